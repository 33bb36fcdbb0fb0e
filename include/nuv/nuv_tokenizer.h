// Splits text into tokens by character classes fixed at construction: delimiters end a
// token, skip characters are dropped, a stop character ends the input, and
// single-character tokens stand alone. No quoting, no escaping: every byte is judged by
// set membership alone, in that order of precedence (stop, skip, delimiter, single).
// Reading also ends at the first zero character.
#pragma once

#include <nuv/nuv_export.h>

#include <string>
#include <vector>

/// A tokenizer with the character classes it was constructed with.
class NUV_EXPORT NUV_TOKENIZER {
public:
    /// Each string is a set of bytes (order and repetition do not matter, empty = no
    /// byte). `keep_empty`: a delimiter or single-character token met while the current
    /// token is empty still emits an empty token (never at the end of the text).
    /// `keep_delimiters`: a delimiter is appended to the token it ends.
    NUV_TOKENIZER(const std::string& delimiters, bool keep_empty, const std::string& skip_chars,
                  const std::string& stop_chars, const std::string& single_char_tokens, bool keep_delimiters);
    /// Copies the sets and flags.
    NUV_TOKENIZER(const NUV_TOKENIZER& other);
    /// Takes the four sets (the source's become empty) and copies the two flags.
    NUV_TOKENIZER(NUV_TOKENIZER&& other) noexcept;
    /// Copies the sets and flags; assigning an object to itself changes nothing.
    NUV_TOKENIZER& operator=(const NUV_TOKENIZER& other);
    /// As the move constructor.
    NUV_TOKENIZER& operator=(NUV_TOKENIZER&& other) noexcept;
    /// Releases the sets.
    ~NUV_TOKENIZER();

    /// Appends the tokens of `text` to `tokens`, after the entries already there.
    void tokenize(const std::string& text, std::vector<std::string>& tokens);
    /// Returns exactly the tokens of `text`.
    std::vector<std::string> tokenize(const std::string& text);

private:
    /// What a byte does, by the first rule that applies.
    enum CLASS : unsigned char { PLAIN, STOP, SKIP, DELIMITER, SINGLE };

    void add_token(std::vector<std::string>& tokens, std::string& token);
    void build_classes();
    /// Moves the sets and copies the flags and table from `other`, leaving its sets empty.
    void take_sets(NUV_TOKENIZER& other) noexcept;

    std::string m_delimiters;
    bool m_keep_empty;
    std::string m_skip_chars;
    std::string m_stop_chars;
    std::string m_single_char_tokens;
    bool m_keep_delimiters;
    /// Class of every byte value, derived from the four sets.
    unsigned char m_class[256];
};
