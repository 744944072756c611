#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <QByteArray>
#include <QString>

class MemStream;
class Server;

// Each fuzz_<name>.cpp defines LLVMFuzzerTestOneInput and FuzzTarget::Seeds(). The fuzzing
// build links it with libFuzzer; the other builds link it with a main that replays files.
// Either way, "--write-seeds=<folder>" as the first argument writes the seeds to <folder>/seeds,
// empties <folder>/corpus (where the fuzzer keeps what it finds) and exits.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace FuzzTarget {
// Meaningful inputs for the fuzzer to start from, built with the project's own writers.
std::vector<QByteArray> Seeds();

// A server connection that never connects, made once, with the settings, the server's and the
// peer messenger's types declared in `d`. Port mapping is off, so no input reaches the network.
Server& DeclaredServer();
// Empties `d` and writes the settings the server connection reads.
void ResetStore();

// Hands each body of a run of bodies, each after its u32 little-endian length, to `take`; stops
// at a body cut short or longer than the limit, or when `take` returns false.
void ForEachFramed(const uint8_t* data, size_t size, uint32_t limit,
                   const std::function<bool(MemStream&)>& take);

// A folder of this process's own for the files a target reads; removed at exit.
QString TemporaryFolder();
// Writes the bytes to the file in the temporary folder and returns its path.
QString WriteTemporaryFile(const QString& name, const uint8_t* data, size_t size);
// Removes every file of the temporary folder.
void EmptyTemporaryFolder();
} // namespace FuzzTarget
