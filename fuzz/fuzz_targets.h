// The fuzz targets' bodies. Each takes one input and returns 0; a fault it
// finds ends the process (a sanitizer report, or abort() when a checked
// property does not hold). They are linked both into the libFuzzer programs
// of this folder and into the regression test that replays the committed
// inputs (tests/fuzz/fuzz_regression_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvanta::fuzz {

// A setup file: the bytes are read by the script line reader and every
// command line goes to the command interpreter of a fresh model. Log file
// paths are kept inside a private temporary folder.
int FuzzSetupFile(const uint8_t* data, size_t size);

// Bytes from the server: the whole input is what the peer sends on the
// message connection, answering (in stream order) the client's connect
// exchange, the typed requests, the object lists and plain commands.
int FuzzReplies(const uint8_t* data, size_t size);

// Stream records: the input chooses a stream, an object list (names and
// data types) and a piece size, then the rest arrives on the stream's data
// connection; every record delivered is checked and read whole.
int FuzzStreamRecords(const uint8_t* data, size_t size);

// A session record folder: session.json and, after NUL bytes, the row
// files; the record is read back, its resume point found and its report
// built.
int FuzzSessionRecord(const uint8_t* data, size_t size);

}  // namespace orvanta::fuzz
