// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// srec_writer.h -- writing Motorola S-record lines.
#ifndef MAVRID_FORMATS_SREC_WRITER_H
#define MAVRID_FORMATS_SREC_WRITER_H

// Write one whole S-record line of the given type (0-9): count data bytes
// taken from data, at the low 16 bits of address, with its checksum.
// Ends the run with "Disk or directory full" if the stream has failed.
void put_srecord(int type, unsigned count, unsigned address, const int* data);

#endif // MAVRID_FORMATS_SREC_WRITER_H
