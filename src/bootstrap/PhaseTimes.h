// The run's timing trace: the ends of its phases, noted as they pass (a counter read each) and
// written to the log as one entry, "Setup phases (ms): <phase> <ms>, ...", when logging is
// enabled. The first phase runs from the process's creation, so the entry also tells what the
// system spent before the program's entry. Costs nothing more when logging is off.
#pragma once

namespace bootstrap {

// Notes the end of a phase named by a text that lives as long as the program; phases beyond
// the trace's capacity are dropped. Main thread only.
void MarkPhase(const char* name) noexcept;
// Notes how long a piece of work done on another thread took (while the phases went on), for
// the entry "Setup background work (ms): <work> <ms>, ..."; call it from the main thread once
// the work is done. Work beyond the trace's capacity is dropped.
void NoteBackgroundWork(const char* name, double milliseconds) noexcept;
// Writes the entry when logging is enabled and phases were noted, the background work's entry
// when there was any, and one with the process's peak memory, "Setup peak memory (bytes): working set A, committed B"; never raises.
void LogPhases() noexcept;

}  // namespace bootstrap
