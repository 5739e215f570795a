#pragma once
/// `zerimo --benchmark FILE`: the timings of the viewer's paths on a real window, printed one per
/// line, then the program ends. bench/gui.sh runs it.

#include <cstdint>

namespace zerimo {

class CMainFrame;
class CZerimoDoc;
class CPreloader;

/// Notes the time of a step of start-up, printed by the benchmark.
void BenchMark(const char* step);

/// `startNs`: CLOCK_REALTIME nanoseconds when the program was launched (0 when unknown).
int RunBenchmark(CMainFrame& frame, CZerimoDoc& doc, CPreloader& preloader, int64_t startNs);

} // namespace zerimo
