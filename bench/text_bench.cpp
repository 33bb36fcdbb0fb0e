// Text utilities beside their peers, in one run:
// - NUV_REGEXP::search over 16 MB beside boost::regex_search called directly;
// - NUV_TOKENIZER over 16 MB of CSV-like text beside
//   boost::tokenizer<boost::char_separator<char>> with the same delimiters;
// - the string pool writing 1 M short strings beside std::vector<std::string> and strdup,
//   each keeping a handle per string and releasing everything at the end; the counters
//   report bytes in use per string (handles not counted) before the release.
#include <nuv/nuv_regexp.h>
#include <nuv/nuv_string_pool.h>
#include <nuv/nuv_tokenizer.h>

#include <host/host_services.h>

#include <benchmark/benchmark.h>
#include <boost/regex.hpp>
#include <boost/tokenizer.hpp>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const size_t s_text_bytes = 16u << 20;
const size_t s_string_count = 1000000;
const char* const s_search_pattern = "needle-[0-9]+";

// 16 MB of words and numbers with one "needle-42" near the end: the search walks the
// whole text.
const std::string& search_text()
{
    static const std::string s_text = [] {
        static const char* const s_words[] = {"alpha", "beta", "gamma", "delta", "needle", "42", "x"};
        std::mt19937 random(1);
        std::string text;
        text.reserve(s_text_bytes + 64);
        while (text.size() < s_text_bytes) {
            text += s_words[random() % 7];
            text += random() % 9 == 0 ? '\n' : ' ';
        }
        text.resize(s_text_bytes - 16);
        text += " needle-42 end\n";
        return text;
    }();
    return s_text;
}

// 16 MB of CSV-like lines: eight fields of words and numbers, some fields empty.
const std::string& csv_text()
{
    static const std::string s_text = [] {
        static const char* const s_words[] = {"id", "name", "Springfield", "north", "", "3.14159", "x"};
        std::mt19937 random(2);
        std::string text;
        text.reserve(s_text_bytes + 256);
        while (text.size() < s_text_bytes) {
            for (int field = 0; field < 8; ++field) {
                if (random() % 2)
                    text += std::to_string(random() % 100000);
                else
                    text += s_words[random() % 7];
                text += field == 7 ? '\n' : ',';
            }
        }
        return text;
    }();
    return s_text;
}

// 1 M zero-terminated strings of 4 to 30 characters, one after the other in one buffer
// as a parsed input file would hold them.
struct SHORT_STRINGS {
    std::string buffer;
    std::vector<const char*> strings;
    size_t characters_and_terminators;
};

const SHORT_STRINGS& short_strings()
{
    static const SHORT_STRINGS s_strings = [] {
        std::mt19937 random(3);
        SHORT_STRINGS result;
        std::vector<size_t> offsets;
        for (size_t i = 0; i < s_string_count; ++i) {
            std::string s = "s" + std::to_string(i);
            s.resize(4 + random() % 27, static_cast<char>('a' + i % 26));
            offsets.push_back(result.buffer.size());
            result.buffer.append(s.c_str(), s.size() + 1);
        }
        for (size_t offset : offsets)
            result.strings.push_back(result.buffer.data() + offset);
        result.characters_and_terminators = result.buffer.size();
        return result;
    }();
    return s_strings;
}

int64_t in_use()
{
    return static_cast<int64_t>(memory_global_current().memory_in_use);
}

void BM_Search_Nuv(benchmark::State& state)
{
    const std::string& text = search_text();
    NUV_REGEXP re(s_search_pattern, true);
    for (auto _ : state) {
        NUV_REGEXP::RANGE found = re.search(text, 0, std::string::npos);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Search_BoostDirect(benchmark::State& state)
{
    const std::string& text = search_text();
    boost::regex re(s_search_pattern);
    boost::cmatch match;
    for (auto _ : state) {
        bool found = boost::regex_search(text.data(), text.data() + text.size(), match, re);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The zero-terminated form: Boost finds the end of the text first, as the wrapper must
// (its considered text ends at the first zero character).
void BM_Search_BoostDirectCString(benchmark::State& state)
{
    const std::string& text = search_text();
    boost::regex re(s_search_pattern);
    boost::cmatch match;
    for (auto _ : state) {
        bool found = boost::regex_search(text.c_str(), match, re);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Both tokenizers append to one vector that already has its final capacity, so that the
// page faults of a growing vector (costly on this machine) do not drown the tokenizing.
size_t csv_token_count()
{
    std::vector<std::string> tokens;
    NUV_TOKENIZER(",\n", false, "", "", "", false).tokenize(csv_text(), tokens);
    return tokens.size();
}

void BM_Tokenize_Nuv(benchmark::State& state)
{
    const std::string& text = csv_text();
    NUV_TOKENIZER tokenizer(",\n", false, "", "", "", false);
    std::vector<std::string> tokens(csv_token_count());
    size_t count = 0;
    for (auto _ : state) {
        tokens.clear();
        tokenizer.tokenize(text, tokens);
        count = tokens.size();
        benchmark::DoNotOptimize(tokens.data());
    }
    state.counters["tokens"] = static_cast<double>(count);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Tokenize_BoostTokenizer(benchmark::State& state)
{
    const std::string& text = csv_text();
    boost::char_separator<char> separator(",\n");
    std::vector<std::string> tokens(csv_token_count());
    size_t count = 0;
    for (auto _ : state) {
        tokens.clear();
        boost::tokenizer<boost::char_separator<char>> tokenizer(text, separator);
        for (const std::string& token : tokenizer)
            tokens.push_back(token);
        count = tokens.size();
        benchmark::DoNotOptimize(tokens.data());
    }
    state.counters["tokens"] = static_cast<double>(count);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void report_memory(benchmark::State& state, int64_t bytes)
{
    double per_string = static_cast<double>(bytes) / static_cast<double>(s_string_count);
    state.counters["bytes_per_string"] = per_string;
    state.counters["overhead_bytes"] =
        static_cast<double>(bytes) - static_cast<double>(short_strings().characters_and_terminators);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s_string_count));
}

void BM_Pool_Nuv(benchmark::State& state)
{
    const auto& strings = short_strings().strings;
    std::vector<const char*> handles(strings.size());
    int64_t bytes = 0;
    size_t unused = 0;
    for (auto _ : state) {
        int64_t before = in_use();
        {
            NUV_STRING_CHUNK_MGR pool;
            for (size_t i = 0; i < strings.size(); ++i)
                handles[i] = pool.write(strings[i]);
            benchmark::ClobberMemory();
            bytes = in_use() - before;
            unused = 0;
            for (NUV_STRING_CHUNK* chunk = pool.head(); chunk; chunk = chunk->get_next())
                unused += chunk->room();
        }
    }
    report_memory(state, bytes);
    // Free bytes left in the chunks; the rest of the overhead is allocator bookkeeping.
    state.counters["unused_chunk_bytes"] = static_cast<double>(unused);
}

// Floor: the same copies into one preallocated buffer, no chunks and no checks.
void BM_Pool_CopyFloor(benchmark::State& state)
{
    const auto& strings = short_strings().strings;
    std::vector<const char*> handles(strings.size());
    std::vector<char> buffer(short_strings().characters_and_terminators);
    for (auto _ : state) {
        char* next = buffer.data();
        for (size_t i = 0; i < strings.size(); ++i) {
            size_t length = std::strlen(strings[i]) + 1;
            handles[i] = std::strcpy(next, strings[i]);
            next += length;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s_string_count));
}

void BM_Pool_StdVectorString(benchmark::State& state)
{
    const auto& strings = short_strings().strings;
    std::vector<std::string> copies;
    copies.reserve(strings.size());
    int64_t bytes = 0;
    for (auto _ : state) {
        int64_t before = in_use();
        for (const auto& s : strings)
            copies.emplace_back(s);
        benchmark::ClobberMemory();
        // The vector's own 32 bytes per string hold short strings inline: count them.
        bytes = in_use() - before + static_cast<int64_t>(copies.size() * sizeof(std::string));
        copies.clear();
    }
    report_memory(state, bytes);
}

void BM_Pool_Strdup(benchmark::State& state)
{
    const auto& strings = short_strings().strings;
    std::vector<char*> handles(strings.size());
    int64_t bytes = 0;
    for (auto _ : state) {
        int64_t before = in_use();
        for (size_t i = 0; i < strings.size(); ++i)
            handles[i] = strdup(strings[i]);
        benchmark::ClobberMemory();
        bytes = in_use() - before;
        for (char* p : handles)
            std::free(p);
    }
    report_memory(state, bytes);
}

} // namespace

BENCHMARK(BM_Search_Nuv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_BoostDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_BoostDirectCString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tokenize_Nuv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tokenize_BoostTokenizer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pool_Nuv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pool_StdVectorString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pool_Strdup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pool_CopyFloor)->Unit(benchmark::kMillisecond);
