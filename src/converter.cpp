// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// converter.cpp -- the command line, the conversion run and its fatal exit.
#include "converter.h"

#include <array>
#include <cstdlib>

#include "file_checks.h"
#include "formats/ihex_reader.h"
#include "formats/srec_writer.h"

std::FILE* ihex_in = nullptr;
std::FILE* srec_out = nullptr;
unsigned running_sum = 0;

// The most data bytes in one S1 record (not 32: some loaders take no more).
static constexpr unsigned MAX_S1_DATA = 30;

// The data of the S0 record: the characters HDR9.
static constexpr std::array<int, 4> header_data = {0x48, 0x44, 0x52, 0x39};

// Stream buffers: large enough that a long file costs few system calls,
// small enough to keep the whole run within a few hundred KiB.
static constexpr std::size_t STREAM_BUFFER_SIZE = 65536;
static std::array<char, STREAM_BUFFER_SIZE> in_buffer;
static std::array<char, STREAM_BUFFER_SIZE> out_buffer;

// The current Intel record: its data bytes followed by its checksum byte.
static std::array<int, 256> record_buffer;
static unsigned byte_count;   // its count field; then the bytes not yet written
static unsigned load_address; // its address field; then the next chunk's

[[noreturn]] void error_exit(const char* message)
{
    std::printf("Error -- %s\n", message);
    std::exit(-1); // a POSIX shell reports 255; exit() still flushes srec_out
}

static constexpr const char* USAGE = "Usage:  mavrid infile outfile";

// An error not reported on standard output, since that is a file of the
// user's that any text written to it would corrupt: one line on standard
// error instead, unless standard error is such a file too.
[[noreturn]] static void error_exit_on_standard_error(const char* message, bool error_is_a_file)
{
    if (!error_is_a_file)
        std::fprintf(stderr, "Error -- %s\n", message);
    std::exit(-1);
}

// Whether a standard stream writes to a file that console text would
// corrupt: the input, or, when there is none open, the file that infile
// names or, in a wrong call, any file named (the input, perhaps, with the
// output left out).
static bool is_users_file(StandardStream stream, int argc, char* argv[])
{
    if (ihex_in != nullptr)
        return standard_stream_is_input(stream, ihex_in);
    return standard_stream_is_named(stream, argv + 1, argc == 3 ? 1 : argc - 1);
}

static void open_output(const char* outfile)
{
    srec_out = create_output(outfile, ihex_in);
    if (srec_out == nullptr)
        error_exit("Could not create S-record file");
    std::setvbuf(srec_out, out_buffer.data(), _IOFBF, out_buffer.size());
}

// Write the current data record as S1 records of at most MAX_S1_DATA bytes
// each, at consecutive addresses.
static void put_data_records()
{
    const int* cursor = record_buffer.data();
    while (byte_count != 0) {
        unsigned chunk_size = byte_count < MAX_S1_DATA ? byte_count : MAX_S1_DATA;
        put_srecord(1, chunk_size, load_address, cursor);
        load_address += chunk_size;
        cursor += chunk_size;
        byte_count -= chunk_size;
    }
}

// Convert data records until the end-of-file record, whose count and
// address fields are left in byte_count and load_address; its checksum
// byte is not read yet.
static void convert_records()
{
    for (;;) {
        running_sum = 0;
        skip_to(':');
        byte_count = static_cast<unsigned>(get_hex_byte());
        load_address = static_cast<unsigned>(get_hex_byte()) << 8;
        load_address |= static_cast<unsigned>(get_hex_byte());
        int record_type = get_hex_byte();
        if (record_type == 1)
            return;
        if (record_type != 0)
            error_exit("Bad record in Intel hex file");
        // Verify the whole record before any of its bytes is written.
        const unsigned bytes_with_checksum = byte_count + 1;
        for (unsigned i = 0; i < bytes_with_checksum; ++i)
            record_buffer[i] = get_hex_byte();
        if ((running_sum & 0xFF) != 0)
            error_exit("Bad record in Intel hex file");
        put_data_records();
    }
}

// mavrid: convert one Intel HEX file into one Motorola S-record file.
// Each record is verified before any of its bytes is written; the first
// fault ends the run, and nothing after the end-of-file record is read.
int main(int argc, char* argv[])
{
    hold_standard_descriptors();
    ignore_file_size_signal();
    // Opened before anything is printed: when standard output is the input
    // itself, not even the banner may be written into it.
    if (argc == 3)
        ihex_in = open_input(argv[1]);
    if (is_users_file(STANDARD_OUTPUT, argc, argv))
        error_exit_on_standard_error(argc == 3 ? "Standard output is the Intel hex file" : USAGE,
                                     is_users_file(STANDARD_ERROR, argc, argv));
    std::puts("Intel Hex to Motorola S-Record Converter Ver 0.1");
    std::puts("Converts one Intel HEX file into one Motorola S-record file.");
    std::puts("");
    if (argc != 3)
        error_exit(USAGE);
    if (ihex_in == nullptr)
        error_exit("Could not open Intel hex file");
    std::setvbuf(ihex_in, in_buffer.data(), _IOFBF, in_buffer.size());
    open_output(argv[2]);
    put_srecord(0, header_data.size(), 0, header_data.data());
    convert_records();

    get_hex_byte(); // the end record's checksum
    std::fclose(ihex_in);
    if (byte_count != 0 || (running_sum & 0xFF) != 0)
        error_exit("Bad record in Intel hex file");
    put_srecord(9, 0, load_address, nullptr);
    if (std::fclose(srec_out) != 0)
        error_exit("Disk or directory full");
    std::puts("File successfully converted");
    return 0;
}
