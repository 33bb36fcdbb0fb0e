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

/// The kind and settings of OUT: one of the older kinds (a compressed, encrypted or gzip
/// file), or with `sealed` the sealed kind.
struct FORMAT {
    KEY key;
    bool compress = true;
    int level = DEFAULT_LEVEL;
    bool gzip = false;
    bool sealed = false;
    NUV_SEAL_OPTIONS seal; ///< Its password or key, its cost and level.
};

/// Packs `input` into `out` (standard output for "-") through NUV_ZOFSTREAM, which unlike
/// the whole-file functions takes every key length, a deflate level and gzip framing, and
/// lets the copy show progress. With the default level and a 16-byte key or none it writes
/// the same file as nuv_encrypt_and_compress_file. `*error` is the stream's last error.
bool pack_stream(std::istream& input, const std::string& out, const FORMAT& format, PROGRESS& progress,
                 NUV_ZSTREAM_ERROR_ENUM* error)
{
    STREAM_NAME name(out, true);
    NUV_ZOFSTREAM output;
    if (format.sealed)
        output.open(name.c_str(), format.seal);
    else
        output.open(name.c_str(), std::ios_base::binary, format.compress,
                    format.key.empty() ? nullptr : format.key.data(), int(format.key.size()), format.level,
                    format.gzip);
    *error = output.last_error();
    if (!output.good())
        return false;
    const bool copied = nuv_copy_stream(input, output, [&](uint64_t done) { progress.update(done); });
    output.close(false);
    const bool delivered = name.finish();
    *error = output.last_error();
    return copied && delivered && !output.bad() && *error == NUV_ZSTREAM_OK;
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

/// The Argon2id cost from --argon2 T,M,P into `seal`, within the limits the library reads;
/// an error text, empty on success.
std::string resolve_cost(const ARGS& args, NUV_SEAL_OPTIONS* seal)
{
    const auto text = args.values.find("--argon2");
    if (text == args.values.end())
        return std::string();
    const std::string& value = text->second;
    uint32_t* const fields[] = {&seal->passes, &seal->memory_kib, &seal->lanes};
    bool numbers = true;
    size_t start = 0;
    for (size_t i = 0; i < 3 && numbers; ++i) {
        const size_t end = i < 2 ? value.find(',', start) : value.size();
        const std::string field = end == std::string::npos ? "" : value.substr(start, end - start);
        numbers = !field.empty() && field.size() <= 10 &&
                  field.find_first_not_of("0123456789") == std::string::npos;
        const uint64_t number = numbers ? std::strtoull(field.c_str(), nullptr, 10) : 0;
        numbers = numbers && number <= UINT32_MAX;
        *fields[i] = uint32_t(number);
        start = end + 1;
    }
    const uint64_t passes = seal->passes, memory = seal->memory_kib, lanes = seal->lanes;
    if (numbers && passes >= 1 && passes <= NUV_SEALED_MOST_PASSES && lanes >= 1 &&
        lanes <= NUV_SEALED_MOST_LANES && memory >= 8 * lanes && memory <= NUV_SEALED_MOST_MEMORY_KIB)
        return std::string();
    return "--argon2 needs T,M,P: T passes from 1 to 1024, M KiB of memory from 8 per lane to 1048576 "
           "(1 GiB), P lanes from 1 to 64";
}

/// Options that cannot go together; an error text, empty when they can.
std::string option_conflict(const ARGS& args)
{
    const bool gzip = args.flags.count("--gzip") != 0;
    const bool encrypt_only = args.flags.count("--encrypt-only") != 0;
    const bool keyed = args.flags.count("--prompt") || args.values.count("--password") ||
                       args.values.count("--password-file") || args.values.count("--key-hex");
    const auto hex = args.values.find("--key-hex");
    if (args.flags.count("--sealed")) {
        if (!keyed)
            return "--sealed needs a password or --key-hex";
        if (gzip || encrypt_only)
            return "--sealed writes its own kind: drop --gzip and --encrypt-only";
        if (hex != args.values.end() && hex->second.size() != 2 * size_t(NUV_SEALED_KEY_LENGTH))
            return "--sealed takes a 32-byte key: --key-hex needs 64 hex digits";
    }
    if (args.values.count("--argon2") && (!args.flags.count("--sealed") || hex != args.values.end()))
        return "--argon2 is the cost of a password's key: it needs --sealed and a password";
    if (encrypt_only) {
        if (!keyed)
            return "--encrypt-only needs a password or --key-hex";
        if (gzip || args.flags.count("--store") || args.values.count("--level"))
            return "--encrypt-only does not compress: drop --store, --gzip and --level";
    }
    if (gzip && keyed)
        return "a gzip member cannot be encrypted: drop --gzip or the password/key";
    return std::string();
}

/// OUT's kind from the options and `secret`, with the deflate level `level`.
FORMAT choose_format(const ARGS& args, const SECRET& secret, int level, const NUV_SEAL_OPTIONS& cost)
{
    FORMAT format;
    format.level = level;
    format.sealed = args.flags.count("--sealed") != 0;
    if (format.sealed) {
        format.seal = cost;
        format.seal.password = secret.password.empty() ? nullptr : secret.password.c_str();
        format.seal.key = secret.raw.empty() ? nullptr : secret.raw.data();
        format.seal.level = level;
        return format;
    }
    format.key = key_for(secret, false);
    format.compress = !args.flags.count("--encrypt-only");
    format.gzip = args.flags.count("--gzip") != 0;
    return format;
}

} // namespace

int command_pack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(
        args, {"--store", "--encrypt-only", "--gzip", "--sealed", "--prompt", "--force"},
        {"--password", "--password-file", "--key-hex", "--level", "--threads", "--argon2"}, &parsed);
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
    NUV_SEAL_OPTIONS cost;
    if (error.empty())
        error = resolve_cost(parsed, &cost);
    if (!error.empty())
        return usage_error("pack: " + error);

    OUTPUT output(out, parsed.flags.count("--force") != 0);
    int status = check_files(in, out);
    if (status == EXIT_OK)
        status = output.check();
    if (status != EXIT_OK)
        return status;
    SECRET secret; // --prompt asks only once everything else is in order
    error = resolve_secret(parsed, &secret);
    if (!error.empty())
        return usage_error("pack: " + error);
    const FORMAT format = choose_format(parsed, secret, level, cost);

    std::tenvik_ifstream file;
    if (!open_unless_standard(file, in) || !output.open("could not write the packed file"))
        return EXIT_FILE;
    nuv_set_deflate_threads(threads);
    PROGRESS progress("packing", in, file_size(in), true);
    errno = 0;
    NUV_ZSTREAM_ERROR_ENUM stream_error = NUV_ZSTREAM_OK;
    if (!pack_stream(is_standard(in) ? std::cin : file, output.name(), format, progress, &stream_error)) {
        const int saved = errno;
        const std::string why = stream_error != NUV_ZSTREAM_OK ? nuv_zstream_error_text(stream_error)
                                : saved                        ? std::strerror(saved)
                                                               : "";
        file_error(shown(out, "standard output"),
                   std::string("could not write the packed file") + (why.empty() ? "" : ": " + why));
        return EXIT_FILE;
    }
    return output.commit() ? EXIT_OK : EXIT_FILE;
}

} // namespace nuvz
