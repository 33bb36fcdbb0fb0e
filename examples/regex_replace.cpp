// Lists every match of a pattern in a text with its groups, then replaces them all:
//
//   regex_replace PATTERN REPLACEMENT TEXT
//
// for example  regex_replace "([0-9]{4})-([0-9]{2})" "<month>" "from 2024-01 to 2024-03"
// The syntax is Perl's; the replacement is taken literally. Offsets count characters.
#include <nuv/nuv_regexp.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: regex_replace PATTERN REPLACEMENT TEXT\n");
        return 2;
    }
    NUV_REGEXP regexp(argv[1], true); // case-sensitive
    if (!regexp.is_pattern_valid()) {
        // Errors are not thrown: the message waits in get_error().
        std::fprintf(stderr, "bad pattern %s: %s\n", argv[1], regexp.get_error().c_str());
        return 1;
    }

    // search() looks at text[start, start + length) and returns the match's offsets in
    // the whole text, or not_found(); group(i) then holds group i of that match.
    std::string text = argv[3];
    for (size_t start = 0; start <= text.size();) {
        const NUV_REGEXP::RANGE found = regexp.search(text, start, std::string::npos);
        if (found == NUV_REGEXP::not_found())
            break;
        std::printf("match [%llu, %llu): %s\n", static_cast<unsigned long long>(found.start),
                    static_cast<unsigned long long>(found.end),
                    text.substr(found.start, found.end - found.start).c_str());
        for (size_t i = 1; i <= regexp.groups(); ++i) {
            const NUV_REGEXP::RANGE group = regexp.group(i);
            if (group != NUV_REGEXP::not_found())
                std::printf("  group %zu: %s\n", i,
                            text.substr(group.start, group.end - group.start).c_str());
        }
        start = found.end > found.start ? found.end : found.end + 1; // step over an empty match
    }

    const size_t replaced = regexp.replace(text, argv[2], true, 0, std::string::npos);
    std::printf("%zu replaced: %s\n", replaced, text.c_str());
    return 0;
}
