// nuvz unpack: the content of a container or gzip member, checked to its end.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <cerrno>
#include <cstring>

namespace nuvz {

int command_unpack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {}, {"--password", "--key-hex"}, &parsed);
    if (error.empty() && parsed.positional.size() != 2)
        error = "needs IN and OUT";
    KEY key;
    if (error.empty())
        error = resolve_key(parsed, &key);
    if (!error.empty())
        return usage_error("unpack: " + error);
    const std::string& in = parsed.positional[0];
    const std::string& out = parsed.positional[1];
    const int status = check_files(in, out);
    if (status != EXIT_OK)
        return status;

    NUV_ZIFSTREAM input;
    input.open(in.c_str(), std::ios_base::binary, key.empty() ? nullptr : key.data(),
               key.empty() ? NUV_PASSWORD_KEY_LENGTH : int(key.size()));
    if (input.kind() == NUV_ZSTREAM_KIND_PLAIN) {
        file_error(in, "not a packed file (no container header); nothing to unpack");
        return EXIT_DECODE;
    }
    if (input.last_error() == NUV_ZSTREAM_NO_KEY) {
        file_error(in, "the file is encrypted: give the --password or --key-hex it was packed with");
        return EXIT_USAGE;
    }
    if (!input.is_open()) {
        file_error(in, std::strerror(errno ? errno : EIO));
        return EXIT_FILE;
    }
    const OUTPUT_FILE output_file(out);
    std::tenvik_ofstream output;
    output.open(out.c_str(), std::ios_base::binary);
    if (!output.is_open()) {
        file_error(out, std::strerror(errno ? errno : EIO));
        return EXIT_FILE;
    }

    PROGRESS progress("unpacking", in, file_size(in), false);
    nuv_copy_stream(input, output, [&](uint64_t done) { progress.update(done); });
    const bool read_failed = input.bad();
    input.close();
    output.close(); // a failed write or close leaves failbit
    if (output.fail() || read_failed) {
        file_error(read_failed ? in : out,
                   std::string(read_failed ? "read error" : "write error") + output_file.discard());
        return EXIT_FILE;
    }
    if (input.last_error() != NUV_ZSTREAM_OK || !input.verified_end()) {
        const std::string why = input.last_error() != NUV_ZSTREAM_OK
                                    ? nuv_zstream_error_text(input.last_error())
                                    : "its end does not check out (cut, damaged, or data after the end)";
        file_error(in, "the data did not decode: " + why + "; wrong password or key, or a damaged file" +
                           output_file.discard());
        return EXIT_DECODE;
    }
    return EXIT_OK;
}

} // namespace nuvz
