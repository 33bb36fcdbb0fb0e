// nuvz pack: a file into a compressed and/or encrypted container, or a gzip member.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <host/host_services.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nuvz {
namespace {

const int DEFAULT_LEVEL = -1;

// A packed file whose disk fills up ends the process from inside the library (its writing
// stream reports an internal error). While pack writes, this handler removes the output it
// created, says so and exits with EXIT_FILE.
const char* s_created_output = nullptr; // null when the output is not this run's to remove
std::string s_write_failure;            // composed before the handler is installed

[[noreturn]] void on_internal_error_while_packing(const char*, const char*, const char*, int)
{
    if (s_created_output)
        ::unlink(s_created_output);
    std::fputs(s_write_failure.c_str(), stderr);
    ::_exit(EXIT_FILE);
}

/// Packs `in` into `out` through NUV_ZOFSTREAM, which unlike the whole-file function takes
/// every key length, a deflate level and gzip framing, and lets the copy show progress.
/// With the default level and a 16-byte key or none it writes the same file as
/// nuv_encrypt_and_compress_file.
bool pack_file(const std::string& in, const std::string& out, const KEY& key, bool compress, int level,
               bool gzip, PROGRESS& progress)
{
    std::tenvik_ifstream input;
    input.open(in.c_str(), std::ios_base::binary);
    if (!input.is_open())
        return false;
    NUV_ZOFSTREAM output;
    output.open(out.c_str(), std::ios_base::binary, compress, key.empty() ? nullptr : key.data(),
                int(key.size()), level, gzip);
    if (!output.good())
        return false;
    const bool copied = nuv_copy_stream(input, output, [&](uint64_t done) { progress.update(done); });
    output.close(false);
    return copied && !output.bad() && output.last_error() == NUV_ZSTREAM_OK;
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
std::string option_conflict(const ARGS& args, const KEY& key)
{
    const bool gzip = args.flags.count("--gzip") != 0;
    if (args.flags.count("--encrypt-only")) {
        if (key.empty())
            return "--encrypt-only needs --password or --key-hex";
        if (gzip || args.flags.count("--store") || args.values.count("--level"))
            return "--encrypt-only does not compress: drop --store, --gzip and --level";
    }
    if (gzip && !key.empty())
        return "a gzip member cannot be encrypted: drop --gzip or the password/key";
    return std::string();
}

} // namespace

int command_pack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {"--store", "--encrypt-only", "--gzip"},
                                   {"--password", "--key-hex", "--level"}, &parsed);
    if (error.empty() && parsed.positional.size() != 2)
        error = "needs IN and OUT";
    KEY key;
    int level = DEFAULT_LEVEL;
    if (error.empty())
        error = resolve_key(parsed, &key);
    if (error.empty())
        error = resolve_level(parsed, &level);
    if (error.empty())
        error = option_conflict(parsed, key);
    if (!error.empty())
        return usage_error("pack: " + error);

    const std::string& in = parsed.positional[0];
    const std::string& out = parsed.positional[1];
    const int status = check_files(in, out);
    if (status != EXIT_OK)
        return status;

    const OUTPUT_FILE output(out);
    s_created_output = output.created_here() ? out.c_str() : nullptr;
    s_write_failure = "nuvz: " + out + ": could not write the packed file" + output.failure_note() + "\n";
    const INTERNAL_ERROR_HANDLER previous = set_internal_error_handler(on_internal_error_while_packing);
    PROGRESS progress("packing", in, file_size(in), true);
    errno = 0;
    const bool ok = pack_file(in, out, key, !parsed.flags.count("--encrypt-only"), level,
                              parsed.flags.count("--gzip") != 0, progress);
    set_internal_error_handler(previous);
    if (!ok) {
        const int saved = errno;
        file_error(out, std::string("could not write the packed file") +
                            (saved ? ": " + std::string(std::strerror(saved)) : "") + output.discard());
        return EXIT_FILE;
    }
    return EXIT_OK;
}

} // namespace nuvz
