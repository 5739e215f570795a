#pragma once
// What the commands of zerimo-cli share.

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

bool IsHelp(const char* a);
int UsageError(const char* usage, const char* message);
bool ParseInt(const char* s, long lo, long hi, long& out);

int Script(int argc, char** argv);
int Batch(int argc, char** argv);
int Decode(int argc, char** argv);
int Quantize(int argc, char** argv);

} // namespace cli
