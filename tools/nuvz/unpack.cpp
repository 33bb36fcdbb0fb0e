// nuvz unpack: the content of a container or gzip member, checked to its end.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace nuvz {
namespace {

/// Opens `name` into `input` with `key`, or with none when it is empty.
void open_with(NUV_ZIFSTREAM& input, const STREAM_NAME& name, const KEY& key)
{
    input.open(name.c_str(), std::ios_base::binary, key.empty() ? nullptr : key.data(),
               key.empty() ? NUV_PASSWORD_KEY_LENGTH : int(key.size()));
}

/// Opens `in` under `name` (see STREAM_NAME) with `secret`; a password becomes the key of
/// the file's kind, which the head read ahead tells. An encrypted file opened without a key
/// is opened again with a password asked on the terminal, when there is one; standard input
/// cannot be read twice, so it needs its key on the command line. Returns an exit code,
/// EXIT_OK when the stream is ready.
int open_input(const std::string& in, const STREAM_NAME& name, const SECRET& secret, NUV_ZIFSTREAM& input)
{
    const std::string label = shown(in, "standard input");
    open_with(input, name, key_for(secret, is_sealed_head(name.head())));
    if (input.kind() == NUV_ZSTREAM_KIND_PLAIN && input.is_open()) {
        file_error(label, "not a packed file (no container header); nothing to unpack");
        return EXIT_DECODE;
    }
    SECRET asked;
    if (input.last_error() == NUV_ZSTREAM_NO_KEY && !is_standard(in) &&
        ask_on_terminal("Password for " + in + ": ", &asked.password)) {
        if (asked.password.empty())
            return usage_error("unpack: the password is empty");
        open_with(input, name, key_for(asked, input.kind() == NUV_ZSTREAM_KIND_SEALED));
    }
    if (input.last_error() == NUV_ZSTREAM_NO_KEY) {
        file_error(
            label,
            "the file is encrypted: give the --password-file, --password or --key-hex it was packed with");
        return EXIT_USAGE;
    }
    if (!input.is_open()) {
        // A sealed file whose parameters are refused, or whose key derivation lacks memory.
        const NUV_ZSTREAM_ERROR_ENUM error = input.last_error();
        file_error(label, error != NUV_ZSTREAM_OK ? nuv_zstream_error_text(error)
                                                  : std::strerror(errno ? errno : EIO));
        return error == NUV_ZSTREAM_SEAL_FORMAT_ERROR ? EXIT_DECODE : EXIT_FILE;
    }
    return EXIT_OK;
}

/// Why the data read from `input` is not the whole packed content, or an empty text.
std::string decode_problem(NUV_ZIFSTREAM& input)
{
    if (input.last_error() != NUV_ZSTREAM_OK)
        return nuv_zstream_error_text(input.last_error());
    return input.verified_end() ? "" : "its end does not check out (cut, damaged, or data after the end)";
}

} // namespace

int command_unpack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error =
        parse_args(args, {"--force"}, {"--password", "--password-file", "--key-hex"}, &parsed);
    std::string in, out;
    if (error.empty())
        error = in_and_out(parsed, false, &in, &out);
    SECRET secret;
    if (error.empty())
        error = resolve_secret(parsed, &secret);
    if (!error.empty())
        return usage_error("unpack: " + error);
    OUTPUT output_file(out, parsed.flags.count("--force") != 0);
    int status = check_files(in, out);
    if (status == EXIT_OK)
        status = output_file.check(); // before the password is asked
    if (status != EXIT_OK)
        return status;
    // A password opens the sealed kind as it is, the others as its MD5 key: the header
    // tells, read ahead.
    const STREAM_NAME name(in, false, secret.password.empty() ? 0 : sizeof NUV_ZSTREAM_SEALED_HEADER);
    NUV_ZIFSTREAM input;
    status = open_input(in, name, secret, input);
    if (status != EXIT_OK)
        return status;

    std::tenvik_ofstream file;
    if (!output_file.open("stopped by an internal error") || !open_unless_standard(file, output_file.name()))
        return EXIT_FILE;
    std::ostream& output = is_standard(out) ? std::cout : file;
    PROGRESS progress("unpacking", in, file_size(in), false);
    nuv_copy_stream(input, output, [&](uint64_t done) { progress.update(done); });
    const bool read_failed = input.bad();
    input.close();
    output.flush();
    if (!is_standard(out))
        file.close(); // a failed write or close leaves failbit
    const std::string problem = decode_problem(input);
    // Standard input that ends before the packed data does is a writer that went away.
    const bool input_ended_early =
        is_standard(in) && input.last_error() == NUV_ZSTREAM_OK && !problem.empty();
    if (output.fail() || read_failed || input_ended_early) {
        const std::string what = output.fail() ? "write error" : read_failed ? "read error" : "ended early";
        file_error(output.fail() ? shown(out, "standard output") : shown(in, "standard input"), what);
        return EXIT_FILE;
    }
    if (!problem.empty()) {
        // A failed tag says itself what it means; other problems get the likely causes.
        file_error(shown(in, "standard input"), input.last_error() == NUV_ZSTREAM_AUTH_ERROR
                                                    ? problem
                                                    : "the data did not decode: " + problem +
                                                          "; wrong password or key, or a damaged file");
        return EXIT_DECODE;
    }
    return output_file.commit() ? EXIT_OK : EXIT_FILE;
}

} // namespace nuvz
