// Scope profilers: measurement through the host's stopwatch and memory figures, report
// lines through its debug output, rows in the once-per-process CSV file.
#include <nuv/nuv_profiler.h>

#include <cinttypes>
#include <cstdarg>
#include <string>

namespace {

const char s_csv_file_name[] = "nuv_profiler_output.csv";
const char s_csv_header[] =
    "\"SUBSYS\",\"NAME\",\"CPU TIME\",\"WC TIME\",\"MEM_START\",\"MEM_END\",\"MEM_DIFF\","
    "\"VMEM_START\",\"VMEM_END\",\"VMEM_DIFF\"\n";

// One buffer holds first the CSV row, then the log line of a report.
const size_t s_report_buffer_size = 2048;

// Appends formatted text to a fixed buffer, cutting what does not fit: the text is
// always terminated and never longer than the buffer size minus one.
class TEXT_BUFFER {
public:
    TEXT_BUFFER(char* text, size_t capacity) : m_text(text), m_capacity(capacity), m_length(0)
    {
        m_text[0] = '\0';
    }

    void append(const char* format, ...) NUV_PRINTF_FORMAT(2, 3)
    {
        size_t room = m_capacity - m_length;
        va_list args;
        va_start(args, format);
        int written = std::vsnprintf(m_text + m_length, room, format, args);
        va_end(args);
        if (written > 0)
            m_length += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room - 1;
    }

    void append_repeated(char c, int count)
    {
        for (; count > 0 && m_length + 1 < m_capacity; --count)
            m_text[m_length++] = c;
        m_text[m_length] = '\0';
    }

    const char* text() const { return m_text; }

private:
    char* m_text;
    size_t m_capacity;
    size_t m_length;
};

// Everything one report shows, in the forms it is printed in.
struct REPORT {
    const char* subsystem;
    const char* name;
    unsigned int types;
    double cpu_time, wc_time, child_cpu_time, child_wc_time;
    int64_t mem_start, mem_end, mem_diff; // mem_diff: end - start, wrapped as unsigned
    uint64_t vmem_start, vmem_end, vmem_diff;
    const char* vmem_sign; // "-" when the virtual size shrank (vmem_diff is then start - end)
    int depth;
};

// The ten CSV columns; the columns of kinds not measured stay empty.
void compose_csv_row(const REPORT& r, TEXT_BUFFER* row)
{
    row->append("\"%s\",\"%s\"", r.subsystem, r.name);
    if (r.types & NUV_PROFILER::CPU_TIME)
        row->append(",%f", r.cpu_time);
    else
        row->append(",");
    if (r.types & NUV_PROFILER::WC_TIME)
        row->append(",%f", r.wc_time);
    else
        row->append(",");
    if (r.types & NUV_PROFILER::MEM)
        row->append(",%" PRId64 ",%" PRId64 ",%" PRId64, r.mem_start, r.mem_end, r.mem_diff);
    else
        row->append(",,,");
    if (r.types & NUV_PROFILER::VMEM)
        row->append(",%" PRIu64 ",%" PRIu64 ",%s%" PRIu64, r.vmem_start, r.vmem_end, r.vmem_sign,
                    r.vmem_diff);
    else
        row->append(",,,");
}

// "PROFILE name:" with one '>' per nesting level, then one item per measured kind, the
// items after the first preceded by ", ". Times with child totals show the split.
void compose_log_line(const REPORT& r, TEXT_BUFFER* line)
{
    line->append("PROFILE %s:", r.name);
    line->append_repeated('>', r.depth);
    const char* separator = "";
    if (r.types & NUV_PROFILER::CPU_TIME) {
        if (r.child_cpu_time == 0.0)
            line->append(" TIME = %.6fs", r.cpu_time);
        else
            line->append(" TOTAL_TIME = %.6fs, EXCLUSIVE_TIME = %.6fs, CHILD_TIME = %.6fs", r.cpu_time,
                         r.cpu_time - r.child_cpu_time, r.child_cpu_time);
        separator = ", ";
    }
    if (r.types & NUV_PROFILER::WC_TIME) {
        if (r.child_wc_time == 0.0)
            line->append("%sWC_TIME = %.6fs", separator, r.wc_time);
        else
            line->append("%sTOTAL_WC_TIME = %.6fs, EXCLUSIVE_WC_TIME = %.6fs, CHILD_WC_TIME = %.6fs",
                         separator, r.wc_time, r.wc_time - r.child_wc_time, r.child_wc_time);
        separator = ", ";
    }
    if (r.types & NUV_PROFILER::MEM) {
        line->append("%sMEM = %" PRId64, separator, r.mem_diff);
        separator = ", ";
    }
    if (r.types & NUV_PROFILER::VMEM)
        line->append("%sVMEM = %s%" PRIu64, separator, r.vmem_sign, r.vmem_diff);
}

} // namespace

FILE* NUV_PROFILER::s_fp = nullptr;
bool NUV_PROFILER::s_gen_profiler_to_file = false;
NUV_RECURSIVE_PROFILER* NUV_RECURSIVE_PROFILER::s_current_profiler = nullptr;
int NUV_RECURSIVE_PROFILER::s_child_depth = 0;

// Opens the CSV file when the configuration asks for it; closes it at process exit.
struct NUV_PROFILER::CSV_FILE {
    CSV_FILE()
    {
        s_gen_profiler_to_file = config_is_on("nuv_profiler_to_file", false);
        if (!s_gen_profiler_to_file)
            return;
        std::string path = std::string(get_project_output_directory()) + s_csv_file_name;
        s_fp = FILE_SYSTEM::fopen(path.c_str(), "w");
        if (!s_fp) {
            debug_message("NUV", "Warning: Cannot open %s for writing.", path.c_str());
            s_gen_profiler_to_file = false;
            return;
        }
        std::fputs(s_csv_header, s_fp);
        std::fflush(s_fp);
    }

    ~CSV_FILE()
    {
        if (s_fp) {
            std::fclose(s_fp);
            s_fp = nullptr;
        }
    }
};

NUV_PROFILER::NUV_PROFILER(const char* subsystem, const char* name, unsigned int types, bool enabled)
    : m_stopwatch(false, 7), m_enabled(enabled), m_subsystem(subsystem), m_name(name), m_vmem_start(0),
      m_mem_start(0), m_types(types)
{
    static CSV_FILE s_csv_file;
    if (!m_enabled)
        return;
    if (types & VMEM)
        m_vmem_start = memory_process_virtual_used();
    if (types & MEM)
        m_mem_start = memory_global_current().memory_in_use;
    if (types & (CPU_TIME | WC_TIME)) {
        m_stopwatch.set_types(((types & CPU_TIME) ? 6 : 0) + ((types & WC_TIME) ? 1 : 0));
        m_stopwatch.start();
    }
}

NUV_PROFILER::~NUV_PROFILER()
{
    if (!m_enabled)
        return;
    uint64_t vmem_end = memory_process_virtual_used();
    uint64_t mem_end = memory_global_current().memory_in_use;
    m_stopwatch.stop();
    double cpu_time = m_stopwatch.lap_sec(6);
    double wc_time = m_stopwatch.lap_sec(1);
    write_data(vmem_end, mem_end, cpu_time, wc_time, 0.0, 0.0, 0);
}

void NUV_PROFILER::write_data(uint64_t vmem_end, uint64_t mem_end, double cpu_time, double wc_time,
                              double child_cpu_time, double child_wc_time, int depth)
{
    if (!m_enabled)
        return;
    bool shrank = vmem_end < m_vmem_start;
    REPORT report = {m_subsystem,
                     m_name,
                     m_types,
                     cpu_time,
                     wc_time,
                     child_cpu_time,
                     child_wc_time,
                     static_cast<int64_t>(m_mem_start),
                     static_cast<int64_t>(mem_end),
                     static_cast<int64_t>(mem_end - m_mem_start),
                     m_vmem_start,
                     vmem_end,
                     shrank ? m_vmem_start - vmem_end : vmem_end - m_vmem_start,
                     shrank ? "-" : "",
                     depth};

    char buffer[s_report_buffer_size];
    // The file is null again once it was closed at process exit: profilers destroyed
    // after that report to the log only.
    if (s_gen_profiler_to_file && s_fp) {
        TEXT_BUFFER row(buffer, sizeof buffer);
        compose_csv_row(report, &row);
        std::fprintf(s_fp, "%s\n", row.text());
        std::fflush(s_fp);
    }
    TEXT_BUFFER line(buffer, sizeof buffer);
    compose_log_line(report, &line);
    print_debug_msg("%s", line.text());
}

bool NUV_PROFILER::print_debug_msg(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool result = debug_message_v(m_subsystem, format, args);
    va_end(args);
    return result;
}

NUV_RECURSIVE_PROFILER::NUV_RECURSIVE_PROFILER(const char* subsystem, const char* name, unsigned int types,
                                               bool enabled)
    : NUV_PROFILER(subsystem, name, types, enabled), m_parent(s_current_profiler), m_child_cpu_time(0.0),
      m_child_wc_time(0.0)
{
    s_current_profiler = this;
    ++s_child_depth;
}

NUV_RECURSIVE_PROFILER::~NUV_RECURSIVE_PROFILER()
{
    if (m_enabled) {
        uint64_t vmem_end = memory_process_virtual_used();
        uint64_t mem_end = memory_global_current().memory_in_use;
        // The stopwatch keeps running: the parent's reading includes this report.
        double cpu_time = m_stopwatch.lap_sec(6);
        double wc_time = m_stopwatch.lap_sec(1);
        write_data(vmem_end, mem_end, cpu_time, wc_time, m_child_cpu_time, m_child_wc_time, s_child_depth);
        if (m_parent)
            m_parent->mark_child_time(cpu_time, wc_time);
        m_enabled = false;
    }
    s_current_profiler = m_parent;
    --s_child_depth;
}

void NUV_RECURSIVE_PROFILER::mark_child_time(double cpu_time, double wc_time)
{
    m_child_cpu_time += cpu_time;
    m_child_wc_time += wc_time;
}
