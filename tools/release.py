#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
"""What each release file says about itself, and the release as a whole.

    tools/release.py source [TARBALL]   the source tarball of this commit, with its SBOM
    tools/release.py checksums          SHA256SUMS of the release files made here
    tools/release.py check [--schema S] [--key K]   what stands between this tree and a release
    tools/release.py verify-sbom [--schema S] SBOM [COMPONENT...]   an SBOM against SPDX's schema
    tools/release.py epoch              the time that every package carries

cpack runs the rest (cmake/cpack_stage.cmake, cmake/cpack_pack.cmake): stage
(the SBOM, the notices, the staged files' modes and times), tar, msi and
deb-modes.  Every file written is the same bytes from every build of one
commit, wherever and under whatever umask it runs.
"""
import argparse
import datetime
import glob
import gzip
import hashlib
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import uuid

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = "tools/release.py"


def read(path, binary=False):
    with open(path, "rb") if binary else open(path, encoding="utf-8") as f:
        return f.read()


def write(path, data):
    """Mode 644 whatever the umask, as every release file is."""
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    os.chmod(path, 0o644)


def output(*command, check=True, **options):
    return subprocess.run(command, check=check, capture_output=True, text=True, **options).stdout


def fail(message):
    sys.exit(f"{TOOL}: {message}")


def sha256(path):
    return hashlib.sha256(read(path, True)).hexdigest()


# The version from its one place; who answers for a release and where it is
# published, from cmake/publishing.cmake; the copyright, from LICENSE.
VERSION = re.search(r"^project\(mavrid VERSION ([0-9.]+)", read(f"{TOP}/CMakeLists.txt"), re.M)[1]
PUBLISHING = dict(re.findall(r'^set\((MAVRID_\w+) "([^"]*)"\)', read(f"{TOP}/cmake/publishing.cmake"), re.M))
CONTACT_NAME, CONTACT_EMAIL = PUBLISHING["MAVRID_CONTACT_NAME"], PUBLISHING["MAVRID_CONTACT_EMAIL"]
DOWNLOAD_URL = PUBLISHING["MAVRID_DOWNLOAD_URL"]
SOURCE_NAME = f"mavrid-{VERSION}.tar.gz"
SUPPLIER = f"Organization: {CONTACT_NAME} ({CONTACT_EMAIL})"
COPYRIGHT = re.search(r"Copyright \(c\) .+", read(f"{TOP}/LICENSE"))[0]  # REUSE-IgnoreLine
SCHEMA = os.path.join(os.path.dirname(TOP), "shared", "spdx", "spdx-2.3-schema.json")


def download(name):
    return f"{DOWNLOAD_URL}/{name}" if DOWNLOAD_URL else "NOASSERTION"


def epoch():
    """SOURCE_DATE_EPOCH, else the commit's time, else the source tarball's SBOM's."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    if os.path.exists(f"{TOP}/.git"):
        return int(output("git", "-C", TOP, "log", "-1", "--format=%ct"))
    if os.path.exists(f"{TOP}/mavrid.spdx.json"):
        created = json.loads(read(f"{TOP}/mavrid.spdx.json"))["creationInfo"]["created"]
        print(f"{TOOL}: no git history: the packages carry the source tarball's time, {created}; "
              "set SOURCE_DATE_EPOCH (seconds since 1970) to give another", file=sys.stderr)
        return int(datetime.datetime.strptime(created, "%Y-%m-%dT%H:%M:%S%z").timestamp())
    fail("no git history, and no source tarball's SBOM to take the packages' time from: set "
         "SOURCE_DATE_EPOCH to the release's time in seconds since 1970 (git log -1 --format=%ct)")


def spdx_id(name, kind="Package"):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def package(name, version, purpose, purl=None, **fields):
    """An SPDX package, of another's unless fields say otherwise."""
    entry = {"SPDXID": fields.pop("SPDXID", spdx_id(name)), "name": name, "versionInfo": version,
             "downloadLocation": "NONE", "filesAnalyzed": False, "licenseConcluded": "NOASSERTION",
             "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION", **fields}
    if purl:
        entry["externalRefs"] = [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                                  "referenceLocator": purl}]
    entry["primaryPackagePurpose"] = purpose
    return entry


def source_package(**fields):
    return package("mavrid", VERSION, "SOURCE", f"pkg:generic/mavrid@{VERSION}?file_name={SOURCE_NAME}",
                   SPDXID="SPDXRef-Package-source", packageFileName=SOURCE_NAME, supplier=SUPPLIER,
                   downloadLocation=download(SOURCE_NAME), **fields, licenseConcluded="MIT",
                   licenseDeclared="MIT", copyrightText=COPYRIGHT)


def document(name, describes, packages, files=(), relationships=(), extracted=()):
    """An SPDX 2.3 document, its namespace made from its content: under the
    download location once there is one, until then a URI of no resolving
    domain, which SPDX allows (it must be unique, not reachable)."""
    created = datetime.datetime.fromtimestamp(epoch(), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    doc = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT", "name": name,
           "documentNamespace": "@namespace@", "creationInfo": {"created": created, "creators": [
               f"Organization: {CONTACT_NAME}", f"Tool: mavrid {TOOL}-{VERSION}"]},
           "documentDescribes": [describes], "packages": list(packages)}
    doc.update({"hasExtractedLicensingInfos": list(extracted)} if extracted else {})
    doc.update({"files": list(files)} if files else {})
    doc["relationships"] = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                             "relatedSpdxElement": describes}] + list(relationships)
    text = json.dumps(doc, indent=2, ensure_ascii=False) + "\n"
    base = f"{DOWNLOAD_URL}/spdx" if DOWNLOAD_URL else "https://mavrid.invalid/spdx"
    return text.replace("@namespace@", f"{base}/{name}-{hashlib.sha256(text.encode()).hexdigest()}")


def make_source(tarball):
    """The tracked files of this commit under mavrid-VERSION/, with the SBOM
    beside them; git archive takes every time from the commit and, told so,
    makes every file 644 or 755 whatever git is configured with."""
    if not os.path.exists(f"{TOP}/.git"):
        fail("the source tarball is made from a git checkout")
    sbom = document(SOURCE_NAME, "SPDXRef-Package-source", [source_package(
        comment="The source of mavrid: every file tracked in its repository at this release's commit.  Its "
                "SHA-256 is in SHA256SUMS beside it, and in the SBOM of every package built from it.")])
    with tempfile.TemporaryDirectory() as work:
        write(f"{work}/mavrid.spdx.json", sbom)
        output("git", "-C", TOP, "-c", "tar.umask=0022", "archive", "--format=tar.gz", f"--prefix=mavrid-{VERSION}/",
               f"--add-file={work}/mavrid.spdx.json", "-o", os.path.abspath(tarball), "HEAD")
    write(f"{tarball}.spdx.json", sbom)
    return tarball


# -- What a program is made of, as its link map and Debian's records say.

def linked(programs, objdump):
    """What each program's link map names as linked in (archive members,
    objects, shared libraries), and what it loads from the system."""
    found = {"static": [], "members": [], "dynamic": [], "imported": [], "glibc": "0"}
    for path, map_file in programs:
        headers = output(objdump, "-p", path, check=False) if objdump else ""
        found["imported"] += [d for d in re.findall(r"DLL Name: (\S+)", headers) if d not in found["imported"]]
        found["glibc"] = max([found["glibc"]] + re.findall(r"GLIBC_([0-9.]+)", headers),
                             key=lambda v: tuple(map(int, v.split("."))))
        section = None
        for line in read(map_file).splitlines():
            if line.startswith("Archive member included"):
                section = "members"
            elif re.match(r"(Discarded input sections|Memory Configuration|Allocating common)", line):
                section = None
            elif section and (m := re.match(r"(/[^ (]+\.a)\(([^)]+)\)", line)):
                found["static"].append(m[1])
                found["members"].append(f"{m[1]}({m[2]})")
            elif (m := re.match(r"LOAD (/.+\.(o|obj))$", line)) and os.path.exists(m[1]):
                found["static"].append(m[1])  # (the link-time optimizer's own objects are gone)
                found["members"].append(m[1])
            elif (m := re.match(r"LOAD (/.+/([^/]+\.so[.0-9]*))$", line)) and m[2] in re.findall(r"NEEDED\s+(\S+)", headers):
                found["dynamic"].append(m[1])
    return found


def owners(files):
    """The Debian package of each file, as dpkg knows it: by its name, as
    resolved, and with /usr added or taken away."""
    bare = lambda path: re.sub(r"^/usr", "", path)
    names = {f: {bare(os.path.normpath(f)), bare(os.path.realpath(f))} for f in set(files)}
    asked = sorted({p for ns in names.values() for n in ns for p in (n, "/usr" + n)})
    listed = output("dpkg", "-S", *asked, check=False) if asked else ""
    holders = [(m[1], bare(m[3])) for m in re.finditer(r"^([^:, \n]+(:[a-z0-9]+)?): (.+)$", listed, re.M)]
    found = {}
    for file, ns in names.items():
        found[file] = next((p for p, path in holders if path in ns), None) or fail(
            f"no Debian package holds {file}, which is linked into the program: the SBOM cannot name it.  "
            "(A program relinked with a C library of your own is used as it is; the release files are made "
            "of Debian's components only.)")
    return found


def code_source(package_name, built_using):
    """The source package whose code a cross or wrapper package carries, as
    its Built-Using names it; None for a package of its own source's code."""
    wanted = ("glibc" if re.match(r"^libc6(-dev)?-[a-z0-9]+-cross$", package_name) else r"gcc-[0-9]+"
              if re.match(r"^(lib(gcc|stdc\+\+)-[0-9]+-dev-[a-z0-9]+-cross|(gcc|g\+\+)-mingw-w64-.*)$", package_name)
              else None)
    m = wanted and re.search(rf"(^|, )({wanted}) \(= ([^)]+)\)", built_using)
    return (m[2], m[3]) if m else None


# The licence of what programs link of each component, as its Debian
# copyright file declares it.
LICENCES = ((r"^(libc6(-dev)?(-[a-z0-9]+-cross)?|glibc)$", "LGPL-2.1-or-later"),
            (r"^(lib(gcc|stdc\+\+)-[0-9]+-dev|libgcc-s1|(gcc|g\+\+)-mingw-w64-.*|gcc-[0-9]+)(-[a-z0-9]+-cross)?$",
             "GPL-3.0-or-later WITH GCC-exception-3.1"),
            (r"^mingw-w64-", "ZPL-2.1"), (r"^libssl", "Apache-2.0"), (r"^googletest$", "BSD-3-Clause"),
            (r"^nlohmann-json3-dev$", "MIT"))
# MinGW-w64's runtime is not all ZPL-2.1: the link maps say which parts a
# program carries, its copyright file the licence of each.  The start code
# and libmingw32 are in the public domain; gdtoa's files are Lucent's (two
# David Gay's too); the printf family is Keith Marshall's; winpthreads is
# MIT, with BSD-3-Clause in its header, and two files in the public domain.
# Licences without an SPDX identifier are LicenseRef-*, with their text.
GDTOA = "arithchk|dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|qnan|smisc|strtodg|strtodnrp|strtof|strtopx|sum|ulp"
PFORMAT = "basename|dirname|mingw_fprintf|mingw_pformat|mingw_printf|mingw_snprintf|mingw_sprintf|mingw_vfprintf|mingw_vprintf|mingw_vsnprintf|mingw_vsprintf"
MINGW_PARTS = ((r"^(crt[0-9a-z]*|dllcrt[0-9])\.o$|^libmingw32\.a\(|^libpthread\.a\(libwinpthread_la-(clock|nanosleep)\.o\)$",
                ["LicenseRef-MinGW-w64-public-domain"]),
               (r"^libmingwex\.a\(lib(32|64)_libmingwex_a-(qnan|strtodnrp)\.o\)$",
                ["LicenseRef-MinGW-w64-Lucent", "LicenseRef-MinGW-w64-David-Gay"]),
               (rf"^libmingwex\.a\(lib(32|64)_libmingwex_a-({GDTOA})\.o\)$", ["LicenseRef-MinGW-w64-Lucent"]),
               (rf"^libmingwex\.a\(lib(32|64)_libmingwex_a-({PFORMAT})\.o\)$", ["LicenseRef-MinGW-w64-Keith-Marshall"]),
               (r"^libpthread\.a\(libwinpthread_la-", ["MIT", "BSD-3-Clause"]))


def licence_of(package_name, members):
    licence = next((lic for pattern, lic in LICENCES if re.match(pattern, package_name)), "NOASSERTION")
    if package_name.startswith("mingw-w64-"):
        refs = set()
        for part in (m[1] for member in members if (m := re.search(r"-w64-mingw32/lib/(.+)$", member))):
            refs.update(next((found for pattern, found in MINGW_PARTS if re.match(pattern, part)), []))
        licence = " AND ".join([licence] + sorted(refs))
    return licence


def licence_text(copyright_file, debian_name):
    """A licence's paragraph in a Debian copyright file, unindented, " ." made empty."""
    text, paragraph, within = "", "", False
    for line in read(copyright_file).splitlines():
        if line == f"License: {debian_name}":
            within, paragraph = True, ""
        elif within and line.startswith(" "):
            paragraph += ("" if line[1:] == "." else line[1:]) + "\n"
        else:
            within = False
        text = paragraph or text
    return text


def components_of(found, built_in):
    """Each component linked in, named as advisories name it: by its Debian
    package, or, for a cross or wrapper package built from another source's
    code (libc6-dev-arm64-cross from glibc's, gcc-mingw-w64-* from gcc-12's),
    by that source package."""
    held = owners(found["static"] + found["dynamic"])
    kinds = {}
    for kind in ("static", "dynamic"):
        for file in found[kind]:
            kinds.setdefault(held[file], set()).add(kind.upper())
    for name in built_in:
        kinds.setdefault(name, set()).add("STATIC")
    os_release = read("/etc/os-release") if os.path.exists("/etc/os-release") else ""
    codename = re.search(r'^VERSION_CODENAME="?([^"\n]*)"?$', os_release, re.M)
    distro = f"&distro={codename[1]}" if codename and codename[1] else ""
    quote = lambda debian_version: debian_version.replace("%", "%25").replace("+", "%2B").replace(":", "%3A")
    components = {}
    for binary in sorted(kinds):
        record = output("dpkg-query", "-W", "-f=${binary:Package}\t${Version}\t${source:Package}\t"
                        "${source:Version}\t${Architecture}\t${Built-Using}\n", binary).splitlines()[0]
        name, version, source, source_version, arch, built_using = (record.split("\t") + [""])[:6]
        name = re.sub(r":[a-z0-9]+$", "", name)
        code = code_source(name, built_using)
        c = components.setdefault(code[0] if code else name, {"binaries": [], "taken": [], "kinds": set()})
        if code:
            source, source_version, arch = code[0], code[1], "source"
            c["taken"].append(f"{name} {version}")
        c.update(version=source_version if code else version,
                 purl=f"pkg:deb/debian/{code[0] if code else name}@{quote(source_version if code else version)}"
                      f"?arch={arch}{distro}",
                 download=f"https://snapshot.debian.org/package/{source}/{source_version}/",
                 source=f"built from Debian's source package {source} {source_version}",
                 licence=licence_of(name, found["members"]))
        c["binaries"].append(name)
        c["kinds"] |= kinds[binary]
    for c in components.values():
        if c["taken"]:
            c["source"] += "; taken from its binary package " + ", ".join(c["taken"])
    return components


def stage(a):
    """The package's SBOM and notices among the staged files and beside the
    package; folders 755 and every time the release's, whatever the umask."""
    staged, into, version = a.staged, os.path.join(a.staged, a.doc_dir), a.version
    programs = [(os.path.join(staged, p.split("=")[0]), p.split("=")[1]) for p in a.program]
    if a.generator == "DEB":
        arch = output("dpkg", "--print-architecture").strip()
        release, purl = f"mavrid_{version}_{arch}.deb", f"pkg:deb/mavrid/mavrid@{version}?arch={arch}"
    elif a.generator == "RPM":
        arch = os.uname().machine
        release, purl = f"mavrid-{version}-1.{arch}.rpm", f"pkg:rpm/mavrid/mavrid@{version}-1?arch={arch}"
    else:
        release = a.file_name + {"ZIP": ".zip", "msi": ".msi"}.get(a.generator, ".tar.gz")
        purl = f"pkg:generic/mavrid@{version}?file_name={release}"
    found = linked(programs, a.objdump)
    components = components_of(found, a.built_in)
    extracted = []
    for ref in sorted({r for c in components.values() for r in c["licence"].split(" AND ") if r.startswith("LicenseRef-")}):
        name = ref[len("LicenseRef-MinGW-w64-"):]
        texts = [t for c in components.values() for b in c["binaries"] if b.startswith("mingw-w64-")
                 if (t := licence_text(f"/usr/share/doc/{b}/copyright", name))]
        extracted.append({"licenseId": ref, "name": f"MinGW-w64 {name}", "extractedText": texts[-1]} if texts
                         else fail(f"MinGW-w64's copyright file has no text of the licence {name}"))
    # An RPM is installed on systems of their own, whose C library is not
    # this host's: it needs libc.so.6 with the newest GLIBC_ version that
    # the program asks for, which its requirements name.
    rpm_glibc = found["glibc"] if a.generator == "RPM" and found["dynamic"] else ""
    if rpm_glibc:
        components = {n: c for n, c in components.items() if c["kinds"] != {"DYNAMIC"}}
    terms = ["MIT"]
    for c in (c for c in components.values() if "STATIC" in c["kinds"] and c["licence"] != "NOASSERTION"):
        terms += [t for t in c["licence"].split(" AND ") if t not in terms]
    licence = " AND ".join(terms)
    # The source: what "tools/release.py source" makes of this commit, hashed.
    if os.path.exists(f"{TOP}/.git"):
        with tempfile.TemporaryDirectory() as work:
            source_sha256 = sha256(make_source(f"{work}/{SOURCE_NAME}"))
        note = {"checksums": [{"algorithm": "SHA256", "checksumValue": source_sha256}]}
        if output("git", "-C", TOP, "status", "--porcelain", "--untracked-files=no"):
            note["comment"] = "The programs were built from a working tree with changes not yet committed, " \
                              "so not from this source alone."
    else:
        source_sha256, note = "unknown here", {"comment": "Built from a folder without git history: the source " \
                                                          "tarball's SHA-256 is not known here."}
    packages = [package("mavrid", version, "APPLICATION", purl, SPDXID="SPDXRef-Package-release",
                        packageFileName=release, supplier=SUPPLIER, downloadLocation=download(release),
                        licenseConcluded=licence, licenseDeclared="MIT", copyrightText=COPYRIGHT),
                source_package(**note)]
    packages += [package(n, c["version"], "LIBRARY", c["purl"], supplier="Organization: Debian",
                         downloadLocation=c["download"], sourceInfo=c["source"], licenseDeclared=c["licence"])
                 for n, c in sorted(components.items())]
    if rpm_glibc:
        packages.append(package("glibc", f"{rpm_glibc} or later", "LIBRARY", licenseDeclared="LGPL-2.1-or-later",
                                comment="The C library of the system that installs the RPM, not part of it: the "
                                        f"RPM requires libc.so.6(GLIBC_{rpm_glibc})(64bit)."))
    packages += [package(dll, "NOASSERTION", "OPERATING_SYSTEM", supplier="Organization: Microsoft",
                         comment="A DLL of Windows, which the program imports: it comes with the system that "
                                 "runs the program, not with this package.") for dll in found["imported"]]
    files, relationships = [], []
    for path, _ in programs:
        content, file_id = read(path, True), spdx_id(os.path.basename(path).replace("_", "-").replace(".", "-"), "File")
        files.append({"SPDXID": file_id, "fileName": "./" + os.path.relpath(path, staged), "fileTypes": ["BINARY"],
                      "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(content).hexdigest()},
                                    {"algorithm": "SHA256", "checksumValue": hashlib.sha256(content).hexdigest()}],
                      "licenseConcluded": licence, "copyrightText": COPYRIGHT})
        targets = [("CONTAINS", "SPDXRef-Package-release"), ("GENERATED_FROM", "SPDXRef-Package-source")]
        targets += [(f"{kind}_LINK", spdx_id(n)) for n in sorted(components)
                    for kind in sorted(components[n]["kinds"], reverse=True)]
        targets += [("DYNAMIC_LINK", spdx_id(n)) for n in (["glibc"] if rpm_glibc else []) + found["imported"]]
        relationships += [{"spdxElementId": target, "relationshipType": kind, "relatedSpdxElement": file_id}
                          if kind == "CONTAINS" else
                          {"spdxElementId": file_id, "relationshipType": kind, "relatedSpdxElement": target}
                          for kind, target in targets]
    sbom = document(release, "SPDXRef-Package-release", packages, files, relationships, extracted)
    write(f"{into}/mavrid.spdx.json", sbom)
    write(f"{a.beside}/{release}.spdx.json", sbom)
    if a.generator not in ("DEB", "RPM"):  # (which link in only start files, and carry doc/copyright)
        write(f"{into}/THIRD-PARTY-NOTICES.txt", notices(release, components, a.relink, source_sha256))
    when = epoch()
    for folder, folders, names in os.walk(staged):
        os.chmod(folder, 0o755)
        for name in folders + names:
            os.utime(os.path.join(folder, name), (when, when), follow_symlinks=False)
    os.utime(staged, (when, when))


def notices(release, components, relink, source_sha256):
    """The components linked in, how to relink a static C library (both as
    doc/notices.txt says), their copyright files and the licences named there."""
    linked_in = {n: c for n, c in sorted(components.items()) if "STATIC" in c["kinds"]}
    summary, relinking = read(f"{TOP}/doc/notices.txt").split("[relink]\n")
    text = summary.format(release=release, components="".join(
        f"\n- {n} {c['version']}: {c['licence']}\n  from Debian's {', '.join(c['binaries'])}; source: {c['download']}"
        for n, c in linked_in.items()))
    if relink:
        text += "\n" + relinking.format(source=SOURCE_NAME, source_sha256=source_sha256, preset=relink,
                                        contact=CONTACT_EMAIL)
    rule, common = "=" * 70, set()
    for name, c in linked_in.items():
        for binary in c["binaries"]:
            path = f"/usr/share/doc/{binary}/copyright"
            body = read(path) if os.path.exists(path) else fail(f"{binary} has no {path} for the notices")
            text += f"\n{rule}\n{binary} ({name} {c['version']}): {path}\n{rule}\n\n{body}"
            common |= set(re.findall(r"/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]", body))
    for path in sorted(p for p in common if os.path.exists(p)):
        text += f"\n{rule}\n{path}\n{rule}\n\n{read(path)}"
    return text


# -- The packages that cpack stages and these make.

def tar(a):
    """One folder in a .tar.gz, the same bytes whoever packs it: sorted,
    owned by 0, timed at the release, modes 644 and 755, gzip without name or time."""
    when = epoch()
    with open(a.output, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", filename="", mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as archive:
        def normal(entry):  # (entries come in sorted order)
            entry.uid, entry.gid, entry.uname, entry.gname, entry.mtime = 0, 0, "", "", when
            entry.mode = 0o755 if entry.isdir() or entry.mode & 0o100 else 0o644
            return entry
        archive.add(a.staged, a.name, filter=normal)
    os.chmod(a.output, 0o644)


def msi(a):
    """A Windows Installer package, by wixl and msibuild (Debian's wixl and
    msitools): for all users, into Program Files (the 32-bit one into Program
    Files (x86)), its folder on the system PATH, which an uninstall takes
    off again.  A later version replaces an earlier one, which is refused.
    The UpgradeCode is fixed; every other code is made of the version and
    what the package holds, and the summary's times (wixl takes them from
    the clock) are the release's, by faketime."""
    ns = uuid.UUID("C2495D01-1FDA-4313-B94D-02652D3E1225")
    code = lambda text: str(uuid.uuid5(ns, text)).upper()
    version = ".".join((a.version.split(".") + ["0", "0"])[:3])  # Windows Installer's three numbers
    arch = {"win64": "x64", "win32": "x86"}[a.system]
    x64 = arch == "x64"
    # Everything staged but the zip's README, which tells of unpacking by hand.
    files = sorted(f for d, _, names in os.walk(a.staged) for n in names
                   if (f := os.path.relpath(os.path.join(d, n), a.staged)) != "README.md")
    held = "".join(f"{f} {sha256(os.path.join(a.staged, f))}\n" for f in files)
    ident = lambda text: re.sub(r"[^A-Za-z0-9_]", "_", text)
    attr = lambda text: text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")

    def folder_xml(folder, indent):
        """Each file of folder as a component of its own, then its subfolders in turn."""
        xml, prefix = "", folder + "/" if folder else ""
        for f in (f for f in files if os.path.dirname(f) == folder):
            xml += (f'{indent}<Component Id="file_{ident(f)}" Guid="{code(f"component {arch} {f}")}" '
                    f'Win64="{"yes" if x64 else "no"}">\n{indent}  <File Id="file_{ident(f)}" '
                    f'Name="{attr(os.path.basename(f))}" Source="{attr(f)}" KeyPath="yes"/>\n{indent}</Component>\n')
        for sub in sorted({f[len(prefix):].split("/")[0] for f in files if f.startswith(prefix) and "/" in f[len(prefix):]}):
            xml += (f'{indent}<Directory Id="folder_{ident(prefix + sub)}" Name="{attr(sub)}">\n'
                    f'{folder_xml(prefix + sub, indent + "  ")}{indent}</Directory>\n')
        return xml

    about = f'    <Property Id="ARPURLINFOABOUT" Value="{attr(DOWNLOAD_URL)}"/>\n' if DOWNLOAD_URL else ""
    refs = "".join(f'      <ComponentRef Id="file_{ident(f)}"/>\n' for f in files)
    wxs = f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{code(f"product {arch} {version}")}" Name="mavrid" Language="1033" Version="{version}"
           Manufacturer="{attr(CONTACT_NAME)}" UpgradeCode="{"4AE79D5C-6647-4A14-8651-96783701539A" if x64 else "84D50A1F-0E5D-480B-A26C-4E968BD021C3"}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="mavrid {a.version}: 16-bit Intel HEX to Motorola S-record converter"/>
    <MajorUpgrade DowngradeErrorMessage="A later version of mavrid is installed already: remove it first to install this one."/>
    <Media Id="1" Cabinet="mavrid.cab" EmbedCab="yes"/>
    <Property Id="ARPCONTACT" Value="{attr(f"{CONTACT_NAME} <{CONTACT_EMAIL}>")}"/>
{about}    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{"ProgramFiles64Folder" if x64 else "ProgramFilesFolder"}">
        <Directory Id="INSTALLDIR" Name="mavrid">
{folder_xml("", "          ")}        </Directory>
      </Directory>
    </Directory>
    <Feature Id="mavrid" Level="1">
{refs}    </Feature>
  </Product>
</Wix>
"""
    when = datetime.datetime.fromtimestamp(epoch(), datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
    insert = "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('{}', {})"
    with tempfile.TemporaryDirectory() as work:
        write(f"{work}/mavrid.wxs", wxs)
        subprocess.run(["faketime", "-f", when, "wixl", "-a", arch, "-o", a.output, f"{work}/mavrid.wxs"],
                       cwd=a.staged, env={**os.environ, "TZ": "UTC"}, check=True)
        # wixl has no Environment element: the table, and the actions that
        # apply it, are added to what it makes.  "=-*PATH" is the system's
        # PATH, set at install and taken back at uninstall; "[~];" appends.
        write(f"{work}/Environment.idt", "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\n"
              "Environment\tEnvironment\nPATH\t=-*PATH\t[~];[INSTALLDIR]\tfile_mavrid_exe\n")
        subprocess.run(["msibuild", a.output, "-i", f"{work}/Environment.idt",
                        "-q", insert.format("RemoveEnvironmentStrings", 3300),
                        "-q", insert.format("WriteEnvironmentStrings", 5200),
                        "-s", "mavrid", CONTACT_NAME, "x64;1033" if x64 else "Intel;1033",
                        "{" + code(f"package {arch} {version} {held}") + "}"], check=True)
    os.chmod(a.output, 0o644)


def deb_modes(a):
    """Every member of a Debian package's ar archive mode 644, as dpkg-deb
    makes them: a 60-byte header (name 16, time 12, owner 6, group 6, mode 8,
    size 10, "`\\n"), at even offsets after "!<arch>\\n"."""
    for deb in (p for p in a.debs if p.endswith(".deb")):
        data, offset = bytearray(read(deb, True)), 8
        while offset < len(data):
            if data[offset + 58:offset + 60] != b"`\n":
                fail(f"{deb} has no ar member header at {offset}")
            data[offset + 40:offset + 48] = b"100644  "
            size = int(data[offset + 48:offset + 58])
            offset += 60 + size + size % 2
        write(deb, bytes(data))


# -- The release.

def release_files():
    """The release files that README's commands make, and their SBOMs."""
    files = [f for pattern in ("build/mavrid_*.deb", "build/mavrid-*.rpm", "build-linux-*/mavrid-*-linux-*.tar.gz",
                               "build-win*/mavrid-*-win*.zip", "build-win*/mavrid-*-win*.msi",
                               "build-qualification-*/mavrid-*-qualification-*.tar.gz",
                               "build-qualification-*/mavrid-*-qualification-*.zip", "mavrid-*.tar.gz")
             for f in sorted(glob.glob(pattern))]
    return files + [f + ".spdx.json" for f in files if os.path.exists(f + ".spdx.json")]


def checksums(_):
    """SHA256SUMS of them, named as sha256sum -c reads them beside the downloads."""
    names = {}
    for f in release_files():
        if os.path.basename(f) in names:
            fail(f"two release files named {os.path.basename(f)}")
        names[os.path.basename(f)] = sha256(f)
    if not names:
        fail("no release files here: make the packages first (README.md)")
    write("SHA256SUMS", "".join(f"{names[n]}  {n}\n" for n in sorted(names)))
    print(f"{TOOL}: SHA256SUMS: {len(names)} files")


def sbom_faults(path, schema, expected=None):
    """What is wrong with an SBOM: against SPDX 2.3's JSON schema; its licence
    expressions, by SPDX's list or defined in the document; its purls; a
    component named by a cross or wrapper package; and, if given, the
    components expected besides mavrid and its source."""
    import jsonschema
    from license_expression import get_spdx_licensing
    try:
        doc = json.loads(read(path))
    except ValueError as fault:
        return [f"not JSON: {fault}"]
    rules = json.loads(read(schema))
    faults = [f"schema: {e.message} at {'/'.join(map(str, e.absolute_path)) or 'the top'}"
              for e in jsonschema.validators.validator_for(rules)(rules).iter_errors(doc)]
    defined, licensing = {i.get("licenseId") for i in doc.get("hasExtractedLicensingInfos", [])}, get_spdx_licensing()
    for element in doc.get("packages", []) + doc.get("files", []):
        for field in ("licenseConcluded", "licenseDeclared"):
            if element.get(field) not in (None, "NOASSERTION", "NONE"):
                info = licensing.validate(element[field])
                if [s for s in info.invalid_symbols if s not in defined] or (info.errors and not info.invalid_symbols):
                    faults.append(f"{element['SPDXID']}: {field} {element[field]!r}: {'; '.join(info.errors)}")
    for p in doc.get("packages", []):
        if re.search(r"-cross$|^(gcc|g\+\+)-mingw-w64", p.get("name", "")):
            faults.append(f"{p['SPDXID']}: named {p['name']}, a cross or wrapper package, not the source "
                          "package whose code it carries")
        for ref in p.get("externalRefs", []):
            m = re.match(r"^pkg:([a-z]+)/(?:[^/@?#]+/)?([^/@?#]+)(?:@([^?#]+))?(?:\?([^#]+))?$", ref["referenceLocator"])
            qualifiers = dict(q.partition("=")[::2] for q in (m[4] or "").split("&") if q) if m else {}
            if not m or m[2] != p["name"] or (m[1] in ("deb", "rpm") and (not re.match(r"^[a-z0-9_]+$", qualifiers.get("arch", ""))
                                              or not re.match(r"^([0-9]+%3A)?[0-9][A-Za-z0-9.~%-]*$", m[3] or ""))):
                faults.append(f"{p['SPDXID']}: purl {ref['referenceLocator']!r}")
    components = {p["name"] for p in doc.get("packages", []) if p.get("name") != "mavrid"}
    if expected and components != set(expected):
        faults.append(f"components {' '.join(sorted(components))}, not {' '.join(sorted(expected))}")
    return faults


def verify_sbom(a):
    faults = sbom_faults(a.sbom, a.schema, a.components)
    sys.exit("\n".join(f"{a.sbom}: {f}" for f in faults)) if faults else print(f"{a.sbom}: valid SPDX 2.3")


def check(a):
    """Every blocker between this tree and a release, the placeholder contact
    first; and, given a private key (OpenSSL's PEM, as "openssl genpkey
    -algorithm ed25519" makes), SHA256SUMS signed in SHA256SUMS.sig regardless."""
    blockers = []
    if re.search(r"(\.invalid|\.example|\.test|\.localhost|@example\.(com|net|org))$", CONTACT_EMAIL) \
            or not re.match(r"^[^@ ]+@[^@ ]+\.[^@ ]+$", CONTACT_EMAIL):
        blockers.append(f"the project's contact, {CONTACT_EMAIL}, is a placeholder that no mail reaches: set "
                        "MAVRID_CONTACT_EMAIL in cmake/publishing.cmake to an address that receives vulnerability "
                        "reports, and SECURITY.md, CHANGELOG, .reuse/dep5 and doc/copyright to the same")
    blockers += [f"{name} does not name the project's contact, {CONTACT_EMAIL}" for name in
                 ("SECURITY.md", "CHANGELOG", ".reuse/dep5", "doc/copyright") if CONTACT_EMAIL not in read(f"{TOP}/{name}")]
    security = read(f"{TOP}/SECURITY.md")
    if not re.search(rf"\| {re.escape(VERSION)} [^|]*\| yes \|", security):
        blockers.append(f"SECURITY.md's table of versions does not give {VERSION} fixes")
    if "not yet published" in security:
        blockers.append(f"SECURITY.md says {VERSION} is not yet published: say where it is")
    if not DOWNLOAD_URL:
        blockers.append("no download location: set MAVRID_DOWNLOAD_URL in cmake/publishing.cmake to the folder "
                        "the release files are published in, so that every SBOM names it")
    blockers += [f"{f}: {fault}" for f in release_files() if f.endswith(".spdx.json") for fault in sbom_faults(f, a.schema)]
    if a.key and os.path.exists("SHA256SUMS"):
        output("openssl", "pkeyutl", "-sign", "-inkey", a.key, "-rawin", "-in", "SHA256SUMS", "-out", "SHA256SUMS.sig")
        print(f"{TOOL}: SHA256SUMS.sig: SHA256SUMS signed with {a.key}")
    if not os.path.exists("SHA256SUMS"):
        blockers.append(f"no SHA256SUMS: make the release files and run {TOOL} checksums (README)")
    else:
        here = {os.path.basename(f): f for f in release_files()}
        for line in read("SHA256SUMS").splitlines():
            m = re.match(r"^([0-9a-f]{64})  (.+)$", line)
            blockers += ([f"SHA256SUMS: a line that is no checksum: {line}"] if not m else
                         [f"SHA256SUMS names {m[2]}, which is not here"] if m[2] not in here else
                         [f"{m[2]} is not what SHA256SUMS says: make SHA256SUMS again"] if sha256(here[m[2]]) != m[1]
                         else [])
        if not os.path.exists("SHA256SUMS.sig"):
            blockers.append("SHA256SUMS is not signed: run this check again with --key <private key>")
    if blockers:
        fail(f"mavrid {VERSION} cannot be published yet; {len(blockers)} thing(s) stand in the way:"
             + "".join(f"\n  - {b}" for b in blockers))
    print(f"{TOOL}: mavrid {VERSION}: nothing stands in the way of publishing it")


def main():
    parser = argparse.ArgumentParser(prog=TOOL, description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)

    def command(name, run, *arguments, **options):
        p = commands.add_parser(name)
        for argument in arguments:
            p.add_argument(argument, **options.get(argument.strip("-").replace("-", "_"), {}))
        p.set_defaults(run=run)
        return p
    command("source", lambda a: print(f"{TOOL}: made {make_source(a.tarball)}"), "tarball",
            tarball={"nargs": "?", "default": SOURCE_NAME})
    command("checksums", checksums)
    command("check", check, "--schema", "--key", schema={"default": SCHEMA, "help": "SPDX 2.3's JSON schema"})
    command("verify-sbom", verify_sbom, "--schema", "sbom", "components", schema={"default": SCHEMA},
            components={"nargs": "*"})
    command("epoch", lambda a: print(epoch()))
    p = command("stage", stage, "--staged", "--generator", "--file-name", "--doc-dir", "--beside", "--objdump",
                "--relink", "--version", version={"default": VERSION}, relink={"default": ""}, objdump={"default": ""},
                doc_dir={"default": ""})
    p.add_argument("--program", action="append", default=[], help="PATH=MAP: a program and its link map")
    p.add_argument("--built-in", action="append", default=[], help="a Debian source package compiled in")
    command("tar", tar, "staged", "name", "output")
    command("msi", msi, "staged", "output", "system", "--version", version={"default": VERSION},
            system={"choices": ["win64", "win32"]})
    command("deb-modes", deb_modes, "debs", debs={"nargs": "*"})
    arguments = parser.parse_args()
    arguments.run(arguments)


if __name__ == "__main__":
    main()
