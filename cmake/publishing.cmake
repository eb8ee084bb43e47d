# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# What a published release names, in one place: who answers for it (the
# packages' maintainer and packager, where a vulnerability is reported),
# and where its files are published.  The packages and SBOMs take them
# from here; SECURITY.md, CHANGELOG, .reuse/dep5 and doc/copyright must
# say the same, and the release check (tools/release.py check)
# refuses to let a release out while either is a placeholder.
set(MAVRID_CONTACT_NAME "The mavrid authors")
# A placeholder: .invalid never resolves (RFC 2606, RFC 6761), so no mail
# sent there arrives.  Set an address that receives mail before publishing.
set(MAVRID_CONTACT_EMAIL "maintainers@mavrid.invalid")
# The folder, as a URL, that the release files are published in; empty
# until there is one.
set(MAVRID_DOWNLOAD_URL "")
