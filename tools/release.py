#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
"""What each release file says about itself, and the release as a whole.

    tools/release.py source [TARBALL]      the source tarball of this commit and its SBOM
    tools/release.py checksums             SHA256SUMS of the release files made here
    tools/release.py check [--schema S] [--key K]
                                           what stands between this tree and a release
    tools/release.py verify-sbom --schema S SBOM [COMPONENT...]
                                           an SBOM checked against SPDX's schema and more
    tools/release.py epoch                 the time that every package carries

and, run by cpack through cmake/cpack_step.cmake: stage (the SBOM, the
notices, and the staged files' modes and times), tar, msi and deb-modes.
Every file written is the same bytes from every build of one commit,
wherever and under whatever umask it runs.
"""
import argparse
import datetime
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


def read(path, mode="r"):
    with open(path, mode, **({} if "b" in mode else {"encoding": "utf-8"})) as f:
        return f.read()


def write(path, data):
    """Written mode 644 whatever the umask, as every release file is."""
    with open(path, "wb" if isinstance(data, bytes) else "w", **({} if isinstance(data, bytes) else {"encoding": "utf-8"})) as f:
        f.write(data)
    os.chmod(path, 0o644)


def output(*command, check=True, **options):
    return subprocess.run(command, check=check, capture_output=True, text=True, **options).stdout


def fail(message):
    sys.exit(f"{TOOL}: {message}")


# The project's version, from its one place; and who answers for a
# release and where it is published, from cmake/publishing.cmake.
VERSION = re.search(r"^project\(mavrid VERSION ([0-9.]+)", read(f"{TOP}/CMakeLists.txt"), re.M)[1]
PUBLISHING = dict(re.findall(r'^set\((MAVRID_\w+) "([^"]*)"\)', read(f"{TOP}/cmake/publishing.cmake"), re.M))
CONTACT_NAME, CONTACT_EMAIL = PUBLISHING["MAVRID_CONTACT_NAME"], PUBLISHING["MAVRID_CONTACT_EMAIL"]
DOWNLOAD_URL = PUBLISHING["MAVRID_DOWNLOAD_URL"]
SOURCE_NAME = f"mavrid-{VERSION}.tar.gz"


def epoch():
    """SOURCE_DATE_EPOCH, or else the time of the commit, or else, in a
    tree unpacked from the source tarball, the time its SBOM was made."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    if os.path.exists(f"{TOP}/.git"):
        return int(output("git", "-C", TOP, "log", "-1", "--format=%ct"))
    if os.path.exists(f"{TOP}/mavrid.spdx.json"):
        created = json.loads(read(f"{TOP}/mavrid.spdx.json"))["creationInfo"]["created"]
        seconds = int(datetime.datetime.strptime(created, "%Y-%m-%dT%H:%M:%S%z").timestamp())
        print(f"{TOOL}: no git history: the packages carry the source tarball's time, {created}; "
              "set SOURCE_DATE_EPOCH (seconds since 1970) to give another", file=sys.stderr)
        return seconds
    fail("no git history and no source tarball's SBOM to take the packages' time from: "
         "set SOURCE_DATE_EPOCH to the release's time, in seconds since 1970 "
         "(git log -1 --format=%ct in its checkout gives it)")


def copyright_line():
    return re.search(r"Copyright \(c\) .+", read(f"{TOP}/LICENSE"))[0]  # REUSE-IgnoreLine


def document(name, describes, packages, files=(), relationships=(), extracted=()):
    """An SPDX 2.3 document whose namespace is made from its content."""
    doc = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
           "name": name, "documentNamespace": "@namespace@",
           "creationInfo": {"created": datetime.datetime.fromtimestamp(epoch(), datetime.timezone.utc)
                            .strftime("%Y-%m-%dT%H:%M:%SZ"),
                            "creators": [f"Organization: {CONTACT_NAME}", f"Tool: mavrid {TOOL}-{VERSION}"]},
           "documentDescribes": [describes], "packages": list(packages)}
    if extracted:
        doc["hasExtractedLicensingInfos"] = list(extracted)
    if files:
        doc["files"] = list(files)
    doc["relationships"] = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                             "relatedSpdxElement": describes}] + list(relationships)
    text = json.dumps(doc, indent=2, ensure_ascii=False) + "\n"
    # Under the download location once there is one; until then a URI of
    # no resolving domain, which SPDX allows (it must be unique, not reachable).
    base = f"{DOWNLOAD_URL}/spdx" if DOWNLOAD_URL else "https://mavrid.invalid/spdx"
    return text.replace("@namespace@", f"{base}/{name}-{hashlib.sha256(text.encode()).hexdigest()}")


def purl_ref(locator):
    return [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": locator}]


def source_package(download, **more):
    return {"SPDXID": "SPDXRef-Package-source", "name": "mavrid", "versionInfo": VERSION,
            "packageFileName": SOURCE_NAME, "supplier": f"Organization: {CONTACT_NAME} ({CONTACT_EMAIL})",
            "downloadLocation": download, "filesAnalyzed": False, **more,
            "licenseConcluded": "MIT", "licenseDeclared": "MIT", "copyrightText": copyright_line(),
            "externalRefs": purl_ref(f"pkg:generic/mavrid@{VERSION}?file_name={SOURCE_NAME}"),
            "primaryPackagePurpose": "SOURCE"}


def make_source(tarball):
    """The tracked files of this commit under mavrid-VERSION/, with the
    SBOM beside them; git archive takes every time from the commit and,
    told so, makes every file 644 or 755 whatever git is configured with."""
    if not os.path.exists(f"{TOP}/.git"):
        fail("the source tarball is made from a git checkout")
    sbom = document(SOURCE_NAME, "SPDXRef-Package-source", [source_package(
        f"{DOWNLOAD_URL}/{SOURCE_NAME}" if DOWNLOAD_URL else "NOASSERTION",
        comment="The source of mavrid: every file tracked in its repository at this release's "
                "commit.  Its SHA-256 is in SHA256SUMS beside it, and in the SBOM of every "
                "package built from it.")])
    with tempfile.TemporaryDirectory() as work:
        write(f"{work}/mavrid.spdx.json", sbom)
        output("git", "-C", TOP, "-c", "tar.umask=0022", "archive", "--format=tar.gz",
               f"--prefix=mavrid-{VERSION}/", f"--add-file={work}/mavrid.spdx.json",
               "-o", os.path.abspath(tarball), "HEAD")
    write(f"{tarball}.spdx.json", sbom)
    return tarball


# -- What a program is made of, as its link map and Debian's records say.

def linked(programs, objdump):
    """The files that each program's link map names as linked in: archive
    members, whole objects, and the shared libraries it loads; and what it
    loads from the system that runs it."""
    found = {"static": [], "members": [], "dynamic": [], "imported": [], "glibc": ""}
    for path, map_file in programs:
        headers = output(objdump, "-p", path, check=False) if objdump else ""
        needed = re.findall(r"NEEDED\s+(\S+)", headers)
        found["imported"] += [d for d in re.findall(r"DLL Name: (\S+)", headers) if d not in found["imported"]]
        for glibc in re.findall(r"GLIBC_([0-9.]+)", headers):
            if tuple(map(int, glibc.split("."))) > tuple(map(int, (found["glibc"] or "0").split("."))):
                found["glibc"] = glibc
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
            elif (m := re.match(r"LOAD (/.+/([^/]+\.so[.0-9]*))$", line)) and m[2] in needed:
                found["dynamic"].append(m[1])
    return found


def owners(files):
    """The Debian package of each file, asked of dpkg for all at once.  dpkg
    knows a file by the path its package gives: each is asked for as named,
    as resolved, and with /usr added or taken away."""
    def bare(path):
        return re.sub(r"^/usr", "", path)
    names = {f: {bare(os.path.normpath(f)), bare(os.path.realpath(f))} for f in set(files)}
    asked = sorted({p for ns in names.values() for n in ns for p in (n, "/usr" + n)})
    listed = output("dpkg", "-S", *asked, check=False) if asked else ""
    holders = [(m[1], bare(m[3])) for m in re.finditer(r"^([^:, \n]+(:[a-z0-9]+)?): (.+)$", listed, re.M)]
    found = {}
    for file, ns in names.items():
        package = next((p for p, path in holders if path in ns), None)
        if package is None:
            fail(f"no Debian package holds {file}, which is linked into the program: the SBOM "
                 "cannot name it.  (A program relinked with a C library of your own is used as it "
                 "is; the release files are made of Debian's components only.)")
        found[file] = package
    return found


def code_source(package, built_using):
    """The source package whose code a cross or wrapper package carries, as
    its Built-Using names it; None for a package of its own source's code."""
    wanted = ("glibc" if re.match(r"^libc6(-dev)?-[a-z0-9]+-cross$", package) else
              r"gcc-[0-9]+" if re.match(r"^(lib(gcc|stdc\+\+)-[0-9]+-dev-[a-z0-9]+-cross|(gcc|g\+\+)-mingw-w64-.*)$", package)
              else None)
    m = wanted and re.search(rf"(^|, )({wanted}) \(= ([^)]+)\)", built_using)
    return (m[2], m[3]) if m else None


def licence_of(package):
    """The licence of what programs link of a component, as its Debian
    copyright file declares it."""
    for pattern, licence in ((r"^(libc6(-dev)?(-[a-z0-9]+-cross)?|glibc)$", "LGPL-2.1-or-later"),
                             (r"^(lib(gcc|stdc\+\+)-[0-9]+-dev|libgcc-s1|(gcc|g\+\+)-mingw-w64-.*|gcc-[0-9]+)(-[a-z0-9]+-cross)?$",
                              "GPL-3.0-or-later WITH GCC-exception-3.1"),
                             (r"^mingw-w64-", "ZPL-2.1"), (r"^libssl", "Apache-2.0"),
                             (r"^googletest$", "BSD-3-Clause"), (r"^nlohmann-json3-dev$", "MIT")):
        if re.match(pattern, package):
            return licence
    return "NOASSERTION"


# MinGW-w64's runtime is not all ZPL-2.1: the link maps say which of its
# parts a program carries, and its copyright file the licence of each.  The
# start code and libmingw32 are in the public domain; gdtoa's files are
# Lucent's (two David Gay's too); the printf family is Keith Marshall's;
# winpthreads is MIT, with BSD-3-Clause in its header, and two files in the
# public domain.  Licences without an SPDX identifier are LicenseRef-*, with
# their text from the copyright file.
GDTOA = "arithchk|dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|qnan|smisc|strtodg|strtodnrp|strtof|strtopx|sum|ulp"
PFORMAT = "basename|dirname|mingw_fprintf|mingw_pformat|mingw_printf|mingw_snprintf|mingw_sprintf|mingw_vfprintf|mingw_vprintf|mingw_vsnprintf|mingw_vsprintf"


def mingw_licences(members):
    refs = set()
    for member in members:
        m = re.search(r"-w64-mingw32/lib/(.+)$", member)
        part = m[1] if m else None
        if part is None:
            continue
        if re.match(r"^(crt[0-9a-z]*|dllcrt[0-9])\.o$|^libmingw32\.a\(|^libpthread\.a\(libwinpthread_la-(clock|nanosleep)\.o\)$", part):
            refs.add("LicenseRef-MinGW-w64-public-domain")
        elif g := re.match(rf"^libmingwex\.a\(lib(32|64)_libmingwex_a-({GDTOA})\.o\)$", part):
            refs.add("LicenseRef-MinGW-w64-Lucent")
            if g[2] in ("qnan", "strtodnrp"):
                refs.add("LicenseRef-MinGW-w64-David-Gay")
        elif re.match(rf"^libmingwex\.a\(lib(32|64)_libmingwex_a-({PFORMAT})\.o\)$", part):
            refs.add("LicenseRef-MinGW-w64-Keith-Marshall")
        elif part.startswith("libpthread.a(libwinpthread_la-"):
            refs.update(("MIT", "BSD-3-Clause"))
    return sorted(refs)


def licence_text(copyright_file, debian_name):
    """A licence's paragraph of a Debian copyright file, unindented, with
    " ." lines made empty.  (Its name stands in Files paragraphs too, with
    no text after it.)"""
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
    code (libc6-dev-arm64-cross from glibc's, gcc-mingw-w64-* from
    gcc-12's), by that source package."""
    held = owners(found["static"] + found["dynamic"])
    kinds = {}
    for kind in ("static", "dynamic"):
        for file in found[kind]:
            kinds.setdefault(held[file], set()).add(kind.upper())
    for package in built_in:
        kinds.setdefault(package, set()).add("STATIC")
    release = dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', read("/etc/os-release"), re.M)).get("VERSION_CODENAME", "") \
        if os.path.exists("/etc/os-release") else ""
    distro = f"&distro={release}" if release else ""
    components = {}
    for binary in sorted(kinds):
        record = output("dpkg-query", "-W", "-f=${binary:Package}\t${Version}\t${source:Package}\t"
                        "${source:Version}\t${Architecture}\t${Built-Using}\n", binary).splitlines()[0]
        name, version, source, source_version, arch, built_using = (record.split("\t") + [""])[:6]
        name = re.sub(r":[a-z0-9]+$", "", name)
        code = code_source(name, built_using)
        key = code[0] if code else name
        c = components.setdefault(key, {"binaries": [], "taken": [], "kinds": set()})
        if code:
            c.update(version=code[1], purl=f"pkg:deb/debian/{code[0]}@{quote(code[1])}?arch=source{distro}",
                     download=f"https://snapshot.debian.org/package/{code[0]}/{code[1]}/",
                     source=f"built from Debian's source package {code[0]} {code[1]}")
            c["taken"].append(f"{name} {version}")
        else:
            c.update(version=version, purl=f"pkg:deb/debian/{name}@{quote(version)}?arch={arch}{distro}",
                     download=f"https://snapshot.debian.org/package/{source}/{source_version}/",
                     source=f"built from Debian's source package {source} {source_version}")
        c["binaries"].append(name)
        c["kinds"] |= kinds[binary]
        c["licence"] = licence_of(name)
        if name.startswith("mingw-w64-") and mingw_licences(found["members"]):
            c["licence"] = " AND ".join([c["licence"]] + mingw_licences(found["members"]))
    for c in components.values():
        if c["taken"]:
            c["source"] += "; taken from its binary package " + ", ".join(c["taken"])
    return components


def quote(debian_version):
    """A Debian version as a purl writes it."""
    return debian_version.replace("%", "%25").replace("+", "%2B").replace(":", "%3A")


def spdx_id(name, kind="Package"):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def stage(a):
    """Write the package's SBOM and notices into the staged files and beside
    the package, then give the staged folders mode 755 and every staged
    file the release's time."""
    staged, into = a.staged, os.path.join(a.staged, a.doc_dir)
    programs = [(os.path.join(staged, p.split("=")[0]), p.split("=")[1]) for p in a.program]
    version = a.version
    if a.generator == "DEB":
        arch = output("dpkg", "--print-architecture").strip()
        release, purl = f"mavrid_{version}_{arch}.deb", f"pkg:deb/mavrid/mavrid@{version}?arch={arch}"
    elif a.generator == "RPM":
        arch = os.uname().machine
        release, purl = f"mavrid-{version}-1.{arch}.rpm", f"pkg:rpm/mavrid/mavrid@{version}-1?arch={arch}"
    else:
        release = a.file_name + {"ZIP": ".zip", "msi": ".msi"}.get(a.generator, ".tar.gz")
        purl = f"pkg:generic/mavrid@{version}?file_name={release}"
    download = lambda name: f"{DOWNLOAD_URL}/{name}" if DOWNLOAD_URL else "NOASSERTION"
    found = linked(programs, a.objdump)
    components = components_of(found, a.built_in)
    refs = sorted({r for c in components.values() for r in c["licence"].split(" AND ") if r.startswith("LicenseRef-")})
    extracted = []
    for ref in refs:
        debian_name = ref[len("LicenseRef-MinGW-w64-"):]
        texts = [licence_text(f"/usr/share/doc/{b}/copyright", debian_name) for c in components.values()
                 for b in c["binaries"] if b.startswith("mingw-w64-") and os.path.exists(f"/usr/share/doc/{b}/copyright")]
        if not any(texts):
            fail(f"MinGW-w64's copyright file has no text of the licence {debian_name}")
        extracted.append({"licenseId": ref, "name": f"MinGW-w64 {debian_name}", "extractedText": [t for t in texts if t][-1]})
    # An RPM is installed on systems of their own, whose C library is not
    # this host's: it needs libc.so.6 with the newest GLIBC_ version that
    # the program asks for, which its requirements name.
    rpm_glibc = found["glibc"] if a.generator == "RPM" and found["dynamic"] else ""
    if rpm_glibc:
        components = {n: c for n, c in components.items() if c["kinds"] != {"DYNAMIC"}}
    terms = ["MIT"]
    for c in components.values():
        if "STATIC" in c["kinds"] and c["licence"] != "NOASSERTION":
            terms += [t for t in c["licence"].split(" AND ") if t not in terms]
    licence = " AND ".join(terms)
    # The source: what "tools/release.py source" makes of this commit, hashed.
    if os.path.exists(f"{TOP}/.git"):
        with tempfile.TemporaryDirectory() as work:
            source_sha256 = hashlib.sha256(read(make_source(f"{work}/{SOURCE_NAME}"), "rb")).hexdigest()
        note = {"checksums": [{"algorithm": "SHA256", "checksumValue": source_sha256}]}
        if output("git", "-C", TOP, "status", "--porcelain", "--untracked-files=no"):
            note["comment"] = ("The programs were built from a working tree with changes not yet "
                               "committed, so not from this source alone.")
    else:
        source_sha256 = "unknown here"
        note = {"comment": "Built from a folder without git history: the source tarball's SHA-256 is not known here."}
    supplier = f"Organization: {CONTACT_NAME} ({CONTACT_EMAIL})"
    packages = [{"SPDXID": "SPDXRef-Package-release", "name": "mavrid", "versionInfo": version,
                 "packageFileName": release, "supplier": supplier, "downloadLocation": download(release),
                 "filesAnalyzed": False, "licenseConcluded": licence, "licenseDeclared": "MIT",
                 "copyrightText": copyright_line(), "externalRefs": purl_ref(purl),
                 "primaryPackagePurpose": "APPLICATION"},
                source_package(download(SOURCE_NAME), **note)]
    for name in sorted(components):
        c = components[name]
        packages.append({"SPDXID": spdx_id(name), "name": name, "versionInfo": c["version"],
                         "supplier": "Organization: Debian", "downloadLocation": c["download"],
                         "filesAnalyzed": False, "sourceInfo": c["source"], "licenseConcluded": "NOASSERTION",
                         "licenseDeclared": c["licence"], "copyrightText": "NOASSERTION",
                         "externalRefs": purl_ref(c["purl"]), "primaryPackagePurpose": "LIBRARY"})
    if rpm_glibc:
        packages.append({"SPDXID": "SPDXRef-Package-glibc", "name": "glibc", "versionInfo": f"{rpm_glibc} or later",
                         "downloadLocation": "NONE", "filesAnalyzed": False,
                         "comment": "The C library of the system that installs the RPM, not part of it: the "
                                    f"RPM requires libc.so.6(GLIBC_{rpm_glibc})(64bit).",
                         "licenseConcluded": "NOASSERTION", "licenseDeclared": "LGPL-2.1-or-later",
                         "copyrightText": "NOASSERTION", "primaryPackagePurpose": "LIBRARY"})
    for dll in found["imported"]:
        packages.append({"SPDXID": spdx_id(dll), "name": dll, "versionInfo": "NOASSERTION",
                         "supplier": "Organization: Microsoft", "downloadLocation": "NONE", "filesAnalyzed": False,
                         "comment": "A DLL of Windows, which the program imports: it comes with the system "
                                    "that runs the program, not with this package.",
                         "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
                         "copyrightText": "NOASSERTION", "primaryPackagePurpose": "OPERATING_SYSTEM"})
    files, relationships = [], []
    for path, _ in programs:
        bytes_ = read(path, "rb")
        file_id = spdx_id(os.path.basename(path).replace("_", "-").replace(".", "-"), "File")
        files.append({"SPDXID": file_id, "fileName": "./" + os.path.relpath(path, staged), "fileTypes": ["BINARY"],
                      "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(bytes_).hexdigest()},
                                    {"algorithm": "SHA256", "checksumValue": hashlib.sha256(bytes_).hexdigest()}],
                      "licenseConcluded": licence, "copyrightText": copyright_line()})
        link = lambda kind, target: {"spdxElementId": file_id, "relationshipType": kind, "relatedSpdxElement": target}
        relationships += [{"spdxElementId": "SPDXRef-Package-release", "relationshipType": "CONTAINS",
                           "relatedSpdxElement": file_id}, link("GENERATED_FROM", "SPDXRef-Package-source")]
        relationships += [link(f"{kind}_LINK", spdx_id(n)) for n in sorted(components)
                          for kind in sorted(components[n]["kinds"], reverse=True)]
        relationships += [link("DYNAMIC_LINK", "SPDXRef-Package-glibc")] if rpm_glibc else []
        relationships += [link("DYNAMIC_LINK", spdx_id(dll)) for dll in found["imported"]]
    sbom = document(release, "SPDXRef-Package-release", packages, files, relationships, extracted)
    write(f"{into}/mavrid.spdx.json", sbom)
    write(f"{a.beside}/{release}.spdx.json", sbom)
    if a.notices:
        write(f"{into}/THIRD-PARTY-NOTICES.txt", notices(release, components, a.relink, source_sha256))
    # The packager's umask and the build's time go: folders 755, and every
    # time stamp the release's (which rpmbuild does not give the files).
    when = epoch()
    for folder, folders, names in os.walk(staged):
        os.chmod(folder, 0o755)
        for name in folders + names:
            os.utime(os.path.join(folder, name), (when, when), follow_symlinks=False)
    os.utime(staged, (when, when))


def notices(release, components, relink, source_sha256):
    """A summary of the components linked in, how to relink a static C
    library, and each one's Debian copyright file and the licence texts
    they refer to."""
    linked_in = {n: c for n, c in sorted(components.items()) if "STATIC" in c["kinds"]}
    text = (f"Third-party notices for {release}\n\n"
            "The programs in this package are mavrid's (MIT licence, in LICENSE), and\n"
            "also carry code of the components below, linked into them when they were\n"
            "built.  Each is named with its version and licence, the Debian package it\n"
            "was taken from, and where its source is.  The copyright file of each\n"
            "Debian package, and the texts of the licences they refer to, follow.\n")
    for name, c in linked_in.items():
        text += (f"\n- {name} {c['version']}: {c['licence']}\n"
                 f"  from Debian's {', '.join(c['binaries'])}; source: {c['download']}")
    text += "\n"
    if relink:
        text += f"""
The GNU C Library is linked into the program statically.  Its licence, the
LGPL, lets you replace it.  mavrid's whole source is the source tarball
{SOURCE_NAME} (SHA-256 {source_sha256}),
which builds this program again with the commands of its README.  To link
it with a C library of your own, put its static libc.a in a folder, with
the start files rcrt1.o, crti.o and crtn.o if you replace those too (else
the system's, from Debian's libc6-dev, are linked in), and configure a
fresh build folder with that folder:

    cmake --preset {relink} -DMAVRID_LIBC_DIR=/path/to/folder
    cmake --build --preset {relink}

Only the program's own link looks there.  The relinked program is used as
it is, from the build folder: the release files, and their SBOMs, are made
of Debian's components only, and cpack refuses a C library that no Debian
package holds.

The source of the GNU C Library and of GCC's runtime, as linked in, is
that of Debian's source packages named above.  For three years from this
release, the project gives that source to anyone who asks, at the contact
in SECURITY.md ({CONTACT_EMAIL}), for no more than the cost of
providing it.
"""
    rule = "=" * 70
    common = set()
    for name, c in linked_in.items():
        for binary in c["binaries"]:
            path = f"/usr/share/doc/{binary}/copyright"
            if not os.path.exists(path):
                fail(f"{binary} has no {path} for the notices")
            body = read(path)
            text += f"\n{rule}\n{binary} ({name} {c['version']}): {path}\n{rule}\n\n{body}"
            common |= set(re.findall(r"/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]", body))
    for path in sorted(common):
        if os.path.exists(path):
            text += f"\n{rule}\n{path}\n{rule}\n\n{read(path)}"
    return text


# -- The packages that cpack stages and these make.

def tar(a):
    """One folder in a .tar.gz, the same bytes whoever packs it: entries in
    name order, owned by 0, timed at the release, modes 644 and 755, gzip
    without name or time."""
    when = epoch()
    with open(a.output, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", filename="", mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as archive:
        def add(path, name):
            entry = archive.gettarinfo(path, name)
            entry.uid = entry.gid = 0
            entry.uname = entry.gname = ""
            entry.mtime = when
            entry.mode = 0o755 if entry.isdir() or entry.mode & 0o100 else 0o644
            if entry.isfile():
                with open(path, "rb") as content:
                    archive.addfile(entry, content)
                return
            archive.addfile(entry)
            for child in sorted(os.listdir(path)):
                add(os.path.join(path, child), f"{name}/{child}")
        add(a.staged, a.name)
    os.chmod(a.output, 0o644)


def msi(a):
    """A Windows Installer package, by wixl and msibuild (Debian's wixl and
    msitools): for all users, into Program Files (the 32-bit one into
    Program Files (x86)), with its folder on the system PATH, which an
    uninstall takes off again.  A later version replaces an earlier one, and
    an earlier one is refused.  The UpgradeCode is fixed; every other code
    is made of the version and what the package holds, and the summary's
    times (which wixl takes from the clock) are the release's, by faketime."""
    ns = uuid.UUID("C2495D01-1FDA-4313-B94D-02652D3E1225")
    code = lambda text: str(uuid.uuid5(ns, text)).upper()
    version = ".".join((a.version.split(".") + ["0", "0"])[:3])  # Windows Installer's three numbers
    x64 = a.arch == "x64"
    # Everything staged but the zip's README, which tells of unpacking by hand.
    files = sorted(os.path.relpath(os.path.join(d, n), a.staged) for d, _, ns_ in os.walk(a.staged)
                   for n in ns_ if os.path.relpath(os.path.join(d, n), a.staged) != "README.md")
    held = "".join(f"{f} {hashlib.sha256(read(os.path.join(a.staged, f), 'rb')).hexdigest()}\n" for f in files)
    ident = lambda text: re.sub(r"[^A-Za-z0-9_]", "_", text)
    attr = lambda text: text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")

    def folder_xml(folder, indent):
        """Each file of folder as a component of its own, then its subfolders in turn."""
        xml = ""
        for f in (f for f in files if os.path.dirname(f) == folder):
            xml += (f'{indent}<Component Id="file_{ident(f)}" Guid="{code(f"component {a.arch} {f}")}" '
                    f'Win64="{"yes" if x64 else "no"}">\n{indent}  <File Id="file_{ident(f)}" '
                    f'Name="{attr(os.path.basename(f))}" Source="{attr(f)}" KeyPath="yes"/>\n{indent}</Component>\n')
        prefix = folder + "/" if folder else ""
        for sub in sorted({f[len(prefix):].split("/")[0] for f in files
                           if f.startswith(prefix) and "/" in f[len(prefix):]}):
            xml += (f'{indent}<Directory Id="folder_{ident(prefix + sub)}" Name="{attr(sub)}">\n'
                    f'{folder_xml(prefix + sub, indent + "  ")}{indent}</Directory>\n')
        return xml

    about = f'    <Property Id="ARPURLINFOABOUT" Value="{attr(DOWNLOAD_URL)}"/>\n' if DOWNLOAD_URL else ""
    refs = "".join(f'      <ComponentRef Id="file_{ident(f)}"/>\n' for f in files)
    wxs = f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{code(f"product {a.arch} {version}")}" Name="mavrid" Language="1033" Version="{version}"
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
    with tempfile.TemporaryDirectory() as work:
        write(f"{work}/mavrid.wxs", wxs)
        when = datetime.datetime.fromtimestamp(epoch(), datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
        subprocess.run(["faketime", "-f", when, "wixl", "-a", a.arch, "-o", a.output, f"{work}/mavrid.wxs"],
                       cwd=a.staged, env={**os.environ, "TZ": "UTC"}, check=True)
        # wixl has no Environment element: the table, and the actions that
        # apply it, are added to what it makes.  "=-*PATH" is the system's
        # PATH, set at install and taken back at uninstall; "[~];" appends.
        write(f"{work}/Environment.idt", "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\n"
              "Environment\tEnvironment\nPATH\t=-*PATH\t[~];[INSTALLDIR]\tfile_mavrid_exe\n")
        insert = "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('{}', {})"
        subprocess.run(["msibuild", a.output, "-i", f"{work}/Environment.idt",
                        "-q", insert.format("RemoveEnvironmentStrings", 3300),
                        "-q", insert.format("WriteEnvironmentStrings", 5200),
                        "-s", "mavrid", CONTACT_NAME, "x64;1033" if x64 else "Intel;1033",
                        "{" + code(f"package {a.arch} {version} {held}") + "}"], check=True)
    os.chmod(a.output, 0o644)


def deb_modes(a):
    """Every member of a Debian package's ar archive mode 644, as dpkg-deb
    makes them, whatever umask cpack ran under.  A member header is 60
    bytes (name 16, time 12, owner 6, group 6, mode 8, size 10, "`\\n"), and
    members start at even offsets after "!<arch>\\n"."""
    for deb in (p for p in a.debs if p.endswith(".deb")):
        data = bytearray(read(deb, "rb"))
        offset = 8
        while offset < len(data):
            if data[offset + 58:offset + 60] != b"`\n":
                fail(f"{deb} has no ar member header at {offset}")
            data[offset + 40:offset + 48] = b"100644  "
            size = int(data[offset + 48:offset + 58])
            offset += 60 + size + size % 2
        write(deb, bytes(data))


# -- The release.

RELEASE_FILES = ["build/mavrid_*.deb", "build/mavrid-*.rpm", "build-linux-*/mavrid-*-linux-*.tar.gz",
                 "build-win*/mavrid-*-win*.zip", "build-win*/mavrid-*-win*.msi",
                 "build-qualification-*/mavrid-*-qualification-*.tar.gz",
                 "build-qualification-*/mavrid-*-qualification-*.zip", "mavrid-*.tar.gz"]


def release_files():
    import glob
    files = [f for pattern in RELEASE_FILES for f in sorted(glob.glob(pattern))]
    return files + [f + ".spdx.json" for f in files if os.path.exists(f + ".spdx.json")]


def checksums(_):
    """SHA256SUMS of the release files that README's commands made in the
    build folders here, and their SBOMs, named as sha256sum -c reads them
    beside the downloads."""
    files = release_files()
    if not files:
        fail("no release files here: make the packages first (README.md)")
    names = {}
    for f in files:
        if os.path.basename(f) in names:
            fail(f"two release files named {os.path.basename(f)}")
        names[os.path.basename(f)] = hashlib.sha256(read(f, "rb")).hexdigest()
    write("SHA256SUMS", "".join(f"{names[n]}  {n}\n" for n in sorted(names)))
    print(f"{TOOL}: SHA256SUMS: {len(names)} files")


def sbom_faults(path, schema, expected=None):
    """What is wrong with an SBOM: against SPDX 2.3's JSON schema, its licence
    expressions (by SPDX's list, or defined in the document), its purls,
    its components named by cross or wrapper packages, and, if given, the
    components expected besides mavrid and its source."""
    import jsonschema
    from license_expression import get_spdx_licensing
    try:
        doc = json.loads(read(path))
    except ValueError as fault:
        return [f"not JSON: {fault}"]
    schema_doc = json.loads(read(schema))
    faults = [f"schema: {e.message} at {'/'.join(map(str, e.absolute_path)) or 'the top'}"
              for e in jsonschema.validators.validator_for(schema_doc)(schema_doc).iter_errors(doc)]
    defined = {i.get("licenseId") for i in doc.get("hasExtractedLicensingInfos", [])}
    licensing = get_spdx_licensing()
    for element in doc.get("packages", []) + doc.get("files", []):
        for field in ("licenseConcluded", "licenseDeclared"):
            expression = element.get(field)
            if expression in (None, "NOASSERTION", "NONE"):
                continue
            info = licensing.validate(expression)
            unknown = [s for s in info.invalid_symbols if s not in defined]
            if unknown or (info.errors and not info.invalid_symbols):
                faults.append(f"{element['SPDXID']}: {field} {expression!r}: {'; '.join(info.errors)}")
    for package in doc.get("packages", []):
        if re.search(r"-cross$|^(gcc|g\+\+)-mingw-w64", package.get("name", "")):
            faults.append(f"{package['SPDXID']}: named {package['name']}, a cross or wrapper package, not "
                          "the source package whose code it carries")
        for ref in package.get("externalRefs", []):
            m = re.match(r"^pkg:([a-z]+)/(?:[^/@?#]+/)?([^/@?#]+)(?:@([^?#]+))?(?:\?([^#]+))?$", ref["referenceLocator"])
            qualifiers = dict(q.partition("=")[::2] for q in (m[4] or "").split("&") if q) if m else {}
            if (not m or m[2] != package["name"]
                    or (m[1] in ("deb", "rpm") and (qualifiers.get("arch") not in ARCHITECTURES
                        or not re.match(r"^([0-9]+%3A)?[0-9][A-Za-z0-9.~%-]*$", m[3] or "")))):
                faults.append(f"{package['SPDXID']}: purl {ref['referenceLocator']!r}")
    components = {p["name"] for p in doc.get("packages", []) if p.get("name") != "mavrid"}
    if expected is not None and components != set(expected):
        faults.append(f"components {' '.join(sorted(components))}, not {' '.join(sorted(expected))}")
    return faults


ARCHITECTURES = {"all", "source", "amd64", "arm64", "armel", "armhf", "i386", "mips64el", "ppc64el",
                 "riscv64", "s390x", "x86_64", "aarch64"}


def verify_sbom(a):
    faults = sbom_faults(a.sbom, a.schema, a.components if a.components else None)
    for fault in faults:
        print(f"{a.sbom}: {fault}", file=sys.stderr)
    if faults:
        sys.exit(1)
    print(f"{a.sbom}: valid SPDX 2.3")


def check(a):
    """What stands between this tree and a published release, every blocker
    listed, the placeholder contact first; and, given a private key
    (OpenSSL's PEM, as "openssl genpkey -algorithm ed25519" makes), the
    checksums signed in SHA256SUMS.sig, whatever else stands in the way."""
    blockers = []
    if re.search(r"(\.invalid|\.example|\.test|\.localhost|@example\.(com|net|org))$", CONTACT_EMAIL) \
            or not re.match(r"^[^@ ]+@[^@ ]+\.[^@ ]+$", CONTACT_EMAIL):
        blockers.append(f"the project's contact, {CONTACT_EMAIL}, is a placeholder that no mail reaches: set "
                        "MAVRID_CONTACT_EMAIL in cmake/publishing.cmake to an address that receives "
                        "vulnerability reports, and SECURITY.md, CHANGELOG, .reuse/dep5 and doc/copyright to the same")
    for name in ("SECURITY.md", "CHANGELOG", ".reuse/dep5", "doc/copyright"):
        if CONTACT_EMAIL not in read(f"{TOP}/{name}"):
            blockers.append(f"{name} does not name the project's contact, {CONTACT_EMAIL}")
    security = read(f"{TOP}/SECURITY.md")
    if not re.search(rf"\| {re.escape(VERSION)} [^|]*\| yes \|", security):
        blockers.append(f"SECURITY.md's table of versions does not give {VERSION} fixes")
    if "not yet published" in security:
        blockers.append(f"SECURITY.md says {VERSION} is not yet published: say where it is")
    if not DOWNLOAD_URL:
        blockers.append("no download location: set MAVRID_DOWNLOAD_URL in cmake/publishing.cmake to the "
                        "folder the release files are published in, so that every SBOM names it")
    for sbom in (f for f in release_files() if f.endswith(".spdx.json")):
        blockers += [f"{sbom}: {fault}" for fault in sbom_faults(sbom, a.schema)]
    if a.key and os.path.exists("SHA256SUMS"):
        output("openssl", "pkeyutl", "-sign", "-inkey", a.key, "-rawin", "-in", "SHA256SUMS", "-out", "SHA256SUMS.sig")
        print(f"{TOOL}: SHA256SUMS.sig: SHA256SUMS signed with {a.key}")
    if not os.path.exists("SHA256SUMS"):
        blockers.append(f"no SHA256SUMS: make the release files and run {TOOL} checksums (README)")
    else:
        here = {os.path.basename(f): f for f in release_files()}
        for line in read("SHA256SUMS").splitlines():
            m = re.match(r"^([0-9a-f]{64})  (.+)$", line)
            if not m:
                blockers.append(f"SHA256SUMS: a line that is no checksum: {line}")
            elif m[2] not in here:
                blockers.append(f"SHA256SUMS names {m[2]}, which is not here")
            elif hashlib.sha256(read(here[m[2]], "rb")).hexdigest() != m[1]:
                blockers.append(f"{m[2]} is not what SHA256SUMS says: make SHA256SUMS again")
        if not os.path.exists("SHA256SUMS.sig"):
            blockers.append("SHA256SUMS is not signed: run this check again with --key <private key>")
    if blockers:
        fail(f"mavrid {VERSION} cannot be published yet; {len(blockers)} thing(s) stand in the way:"
             + "".join(f"\n  - {b}" for b in blockers))
    print(f"{TOOL}: mavrid {VERSION}: nothing stands in the way of publishing it")


def main():
    parser = argparse.ArgumentParser(prog=TOOL, description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    schema = os.path.join(os.path.dirname(TOP), "shared", "spdx", "spdx-2.3-schema.json")
    p = commands.add_parser("source", help="the source tarball of this commit, with its SBOM")
    p.add_argument("tarball", nargs="?", default=SOURCE_NAME)
    p.set_defaults(run=lambda a: print(f"{TOOL}: made {make_source(a.tarball)}"))
    commands.add_parser("checksums", help="SHA256SUMS of the release files").set_defaults(run=checksums)
    p = commands.add_parser("check", help="what stands between this tree and a release")
    p.add_argument("--schema", default=schema, help="SPDX 2.3's JSON schema (default: %(default)s)")
    p.add_argument("--key", help="a private key to sign SHA256SUMS with")
    p.set_defaults(run=check)
    p = commands.add_parser("verify-sbom", help="an SBOM against SPDX 2.3's schema, and more")
    p.add_argument("--schema", default=schema)
    p.add_argument("sbom")
    p.add_argument("components", nargs="*", help="the components expected, besides mavrid")
    p.set_defaults(run=verify_sbom)
    commands.add_parser("epoch", help="the release's time").set_defaults(run=lambda a: print(epoch()))
    p = commands.add_parser("stage")
    for option in ("--staged", "--generator", "--file-name", "--doc-dir", "--beside", "--objdump", "--relink"):
        p.add_argument(option, default="")
    p.add_argument("--version", default=VERSION)
    p.add_argument("--program", action="append", default=[], help="PATH=MAP: a program and its link map")
    p.add_argument("--built-in", action="append", default=[], help="a Debian source package compiled in")
    p.add_argument("--notices", action="store_true")
    p.set_defaults(run=stage)
    p = commands.add_parser("tar")
    for argument in ("staged", "name", "output"):
        p.add_argument(argument)
    p.set_defaults(run=tar)
    p = commands.add_parser("msi")
    for argument in ("staged", "output", "arch"):
        p.add_argument(argument)
    p.add_argument("--version", default=VERSION, help="another than the project's, as cpack is told")
    p.set_defaults(run=msi)
    p = commands.add_parser("deb-modes")
    p.add_argument("debs", nargs="*")
    p.set_defaults(run=deb_modes)
    arguments = parser.parse_args()
    arguments.run(arguments)


if __name__ == "__main__":
    main()
