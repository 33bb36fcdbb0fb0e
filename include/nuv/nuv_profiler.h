// Scope profilers: construct one at the start of a block, and its destructor reports the
// block's CPU time, wall-clock time and memory change as one debug line under the
// profiler's subsystem tag. With the configuration flag "nuv_profiler_to_file" on, each
// report is also appended as a row to "nuv_profiler_output.csv" in the project output
// directory; that file is opened (emptied) once per process, by the first profiler
// constructed, and closed at process exit.
//
// Profilers are for one thread: the file and the chain of recursive profilers are
// process-wide and unguarded. A report line or CSV row longer than 2047 characters is
// cut at 2047 characters (the row keeps its line end); nothing is allocated to report.
//
// Example: examples/profile.cpp
#pragma once

#include <nuv/nuv_export.h>

#include <host/host_services.h>

#include <cstdint>
#include <cstdio>

/// Measures the block it lives in and reports it when destroyed.
class NUV_EXPORT NUV_PROFILER {
public:
    /// Measurement kinds, combined into the `types` mask.
    enum TYPES {
        CPU_TIME = 1, ///< CPU seconds of the block (user + system).
        WC_TIME = 2,  ///< Wall-clock seconds of the block.
        MEM = 4,      ///< Change of the host's memory-in-use figure.
        VMEM = 8,     ///< Change of the process's virtual memory size.
    };

    /// Starts measuring the kinds in `types` when `enabled`; a disabled profiler measures
    /// and reports nothing. `subsystem` (the debug-line tag) and `name` are borrowed and
    /// must outlive the profiler.
    NUV_PROFILER(const char* subsystem, const char* name, unsigned int types, bool enabled);
    /// Reports the block when enabled: one debug line, and a CSV row when the file is open.
    virtual ~NUV_PROFILER();

    NUV_PROFILER(const NUV_PROFILER&) = delete;
    NUV_PROFILER& operator=(const NUV_PROFILER&) = delete;

protected:
    /// Writes the CSV row (when the file is open) and the debug line of one report with
    /// the given end figures, child totals and nesting depth; nothing when disabled.
    void write_data(uint64_t vmem_end, uint64_t mem_end, double cpu_time, double wc_time,
                    double child_cpu_time, double child_wc_time, int depth);
    /// Sends one debug line built from `format` under the tag m_subsystem.
    bool print_debug_msg(const char* format, ...) NUV_PRINTF_FORMAT(2, 3);

    STOPWATCH m_stopwatch;   ///< Constructed with (false, 7); started only when a time is measured.
    bool m_enabled;          ///< Reports at destruction while set.
    const char* m_subsystem; ///< Borrowed subsystem tag.
    const char* m_name;      ///< Borrowed profile name.
    uint64_t m_vmem_start;   ///< Virtual size at construction (0 unless VMEM).
    uint64_t m_mem_start;    ///< Memory in use at construction (0 unless MEM).
    unsigned int m_types;    ///< Kinds measured.

private:
    struct CSV_FILE;

    static FILE* s_fp;                  ///< The open CSV file, or null.
    static bool s_gen_profiler_to_file; ///< Reports also go to the CSV file.
};

/// A profiler for nested blocks: each knows the innermost recursive profiler alive when
/// it was constructed, adds its own times to that one's child totals, and reports total,
/// exclusive and child times with one '>' per nesting level. Destroy in reverse order of
/// construction (scoped objects on one thread do). A disabled one still links the chain.
class NUV_EXPORT NUV_RECURSIVE_PROFILER : public NUV_PROFILER {
public:
    /// Joins the chain under the current innermost recursive profiler.
    NUV_RECURSIVE_PROFILER(const char* subsystem, const char* name, unsigned int types, bool enabled);
    /// Reports at the current depth (when enabled), passes its times to the parent and
    /// leaves the chain.
    ~NUV_RECURSIVE_PROFILER() override;

private:
    void mark_child_time(double cpu_time, double wc_time);

    NUV_RECURSIVE_PROFILER* m_parent; ///< Enclosing recursive profiler, or null.
    double m_child_cpu_time;          ///< CPU seconds of finished direct children.
    double m_child_wc_time;           ///< Wall-clock seconds of finished direct children.

    static NUV_RECURSIVE_PROFILER* s_current_profiler; ///< Innermost live recursive profiler.
    static int s_child_depth;                          ///< Number of live recursive profilers.
};
