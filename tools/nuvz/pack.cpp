// nuvz pack: a file into a compressed and/or encrypted container, or a gzip member.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

namespace nuvz {
namespace {

const int DEFAULT_LEVEL = -1;

/// Packs `input` into `out` (standard output for "-") through NUV_ZOFSTREAM, which unlike
/// the whole-file function takes every key length, a deflate level and gzip framing, and
/// lets the copy show progress. With the default level and a 16-byte key or none it writes
/// the same file as nuv_encrypt_and_compress_file.
bool pack_stream(std::istream& input, const std::string& out, const KEY& key, bool compress, int level,
                 bool gzip, PROGRESS& progress)
{
    STREAM_NAME name(out, true);
    NUV_ZOFSTREAM output;
    output.open(name.c_str(), std::ios_base::binary, compress, key.empty() ? nullptr : key.data(),
                int(key.size()), level, gzip);
    if (!output.good())
        return false;
    const bool copied = nuv_copy_stream(input, output, [&](uint64_t done) { progress.update(done); });
    output.close(false);
    const bool delivered = name.finish();
    return copied && delivered && !output.bad() && output.last_error() == NUV_ZSTREAM_OK;
}

/// Why standard output cannot take packed data, or an empty text when it can: binary data
/// does not go to a terminal, and a file opened for appending would be cut to nothing.
std::string standard_output_problem()
{
    if (is_terminal(stdout))
        return "will not write packed data to a terminal: redirect standard output or name OUT";
    if (standard_output_appends())
        return "standard output is a file opened for appending: name OUT instead";
    return std::string();
}

/// Deflate worker threads from --threads (1 to 64), else one per hardware thread; an error
/// text, empty on success.
std::string resolve_threads(const ARGS& args, int* threads)
{
    const auto text = args.values.find("--threads");
    if (text == args.values.end()) {
        *threads = static_cast<int>(std::thread::hardware_concurrency());
        return std::string();
    }
    const std::string& value = text->second;
    *threads = value.size() <= 2 && value.find_first_not_of("0123456789") == std::string::npos
                   ? std::atoi(value.c_str())
                   : 0;
    return *threads >= 1 && *threads <= 64 ? std::string() : "--threads needs a number from 1 to 64";
}

/// The deflate level from --level and --store; an error text, empty on success.
std::string resolve_level(const ARGS& args, int* level)
{
    const auto text = args.values.find("--level");
    const bool store = args.flags.count("--store") != 0;
    if (text != args.values.end()) {
        if (text->second.size() != 1 || text->second[0] < '0' || text->second[0] > '9')
            return "--level needs a number from 0 to 9";
        *level = text->second[0] - '0';
        if (store && *level != 0)
            return "--store and --level " + text->second + " contradict each other";
    }
    if (store)
        *level = 0;
    return std::string();
}

/// Options that cannot go together; an error text, empty when they can.
std::string option_conflict(const ARGS& args)
{
    const bool gzip = args.flags.count("--gzip") != 0;
    const bool keyed = args.flags.count("--prompt") || args.values.count("--password") ||
                       args.values.count("--password-file") || args.values.count("--key-hex");
    if (args.flags.count("--encrypt-only")) {
        if (!keyed)
            return "--encrypt-only needs a password or --key-hex";
        if (gzip || args.flags.count("--store") || args.values.count("--level"))
            return "--encrypt-only does not compress: drop --store, --gzip and --level";
    }
    if (gzip && keyed)
        return "a gzip member cannot be encrypted: drop --gzip or the password/key";
    return std::string();
}

} // namespace

int command_pack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error =
        parse_args(args, {"--store", "--encrypt-only", "--gzip", "--prompt", "--force"},
                   {"--password", "--password-file", "--key-hex", "--level", "--threads"}, &parsed);
    std::string in, out;
    if (error.empty())
        error = in_and_out(parsed, true, &in, &out);
    if (error.empty() && is_standard(out))
        error = standard_output_problem();
    int level = DEFAULT_LEVEL;
    if (error.empty())
        error = resolve_level(parsed, &level);
    int threads = 1;
    if (error.empty())
        error = resolve_threads(parsed, &threads);
    if (error.empty())
        error = option_conflict(parsed);
    if (!error.empty())
        return usage_error("pack: " + error);

    OUTPUT output(out, parsed.flags.count("--force") != 0);
    int status = check_files(in, out);
    if (status == EXIT_OK)
        status = output.check();
    if (status != EXIT_OK)
        return status;
    KEY key; // --prompt asks only once everything else is in order
    error = resolve_key(parsed, &key);
    if (!error.empty())
        return usage_error("pack: " + error);

    std::tenvik_ifstream file;
    if (!open_unless_standard(file, in) || !output.open("could not write the packed file"))
        return EXIT_FILE;
    nuv_set_deflate_threads(threads);
    PROGRESS progress("packing", in, file_size(in), true);
    errno = 0;
    const bool ok = pack_stream(is_standard(in) ? std::cin : file, output.name(), key,
                                !parsed.flags.count("--encrypt-only"), level,
                                parsed.flags.count("--gzip") != 0, progress);
    if (!ok) {
        const int saved = errno;
        file_error(shown(out, "standard output"),
                   std::string("could not write the packed file") +
                       (saved ? ": " + std::string(std::strerror(saved)) : ""));
        return EXIT_FILE;
    }
    return output.commit() ? EXIT_OK : EXIT_FILE;
}

} // namespace nuvz
