// nuvz's keys: a password (given, read from a file or asked on the terminal) or a raw key in
// hex, and the key bytes each kind of file is opened with.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <cerrno>
#include <cstring>

namespace nuvz {
namespace {

const char* const s_key_options[] = {"--password", "--password-file", "--prompt", "--key-hex"};

/// The first line of the file `name`, without its line end; an error text, empty on success.
std::string read_password_file(const std::string& name, std::string* password)
{
    std::tenvik_ifstream file;
    file.open(name.c_str(), std::ios_base::binary);
    if (!file.is_open())
        return "cannot open the password file '" + name + "': " + std::strerror(errno ? errno : ENOENT);
    std::getline(file, *password);
    if (file.bad())
        return "cannot read the password file '" + name + "'";
    if (!password->empty() && password->back() == '\r')
        password->pop_back();
    return password->empty() ? "the password file '" + name + "' is empty" : std::string();
}

/// The key from --key-hex; an error text, empty on success.
std::string key_from_hex(const std::string& text, KEY* key)
{
    if (text.size() != 32 && text.size() != 48 && text.size() != 64)
        return "--key-hex needs 32, 48 or 64 hex digits (a 16, 24 or 32-byte key)";
    if (text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return "--key-hex: '" + text + "' is not hexadecimal";
    for (size_t i = 0; i < text.size(); i += 2)
        key->push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return std::string();
}

/// Asks twice on the terminal for --prompt; an error text, empty on success.
std::string ask_twice(std::string* password)
{
    std::string again;
    if (!ask_on_terminal("Password: ", password) || !ask_on_terminal("Password again: ", &again))
        return "--prompt needs a terminal to ask on";
    return *password == again ? std::string() : "the two passwords differ";
}

} // namespace

KEY key_for(const SECRET& secret, bool sealed)
{
    if (secret.password.empty())
        return secret.raw;
    const char* password = secret.password.c_str();
    if (sealed)
        return KEY(password, password + std::strlen(password));
    KEY key(NUV_PASSWORD_KEY_LENGTH);
    nuv_key_from_password(password, key.data());
    return key;
}

bool is_sealed_head(const std::string& head)
{
    const size_t length = sizeof NUV_ZSTREAM_SEALED_HEADER;
    return head.size() >= length && std::memcmp(head.data(), NUV_ZSTREAM_SEALED_HEADER, length) == 0;
}

std::string resolve_secret(const ARGS& args, SECRET* secret)
{
    int given = 0;
    for (const char* option : s_key_options)
        given += int(args.values.count(option) + args.flags.count(option));
    if (given > 1)
        return "give one of --password, --password-file, --prompt and --key-hex";
    const auto value = [&](const char* option) {
        const auto found = args.values.find(option);
        return found == args.values.end() ? nullptr : &found->second;
    };
    std::string& password = secret->password;
    std::string error;
    if (const std::string* hex = value("--key-hex"))
        return key_from_hex(*hex, &secret->raw);
    if (const std::string* given_password = value("--password"))
        password = *given_password;
    else if (const std::string* file = value("--password-file"))
        error = read_password_file(*file, &password);
    else if (args.flags.count("--prompt"))
        error = ask_twice(&password);
    else
        return std::string(); // no key
    if (error.empty() && password.empty())
        error = "the password is empty";
    return error;
}

} // namespace nuvz
