// Tokenizer: one table lookup per byte instead of four set scans; the table is derived
// from the sets at construction, so the results are the same.
#include <nuv/nuv_tokenizer.h>

#include <cstring>
#include <utility>

NUV_TOKENIZER::NUV_TOKENIZER(const std::string& delimiters, bool keep_empty, const std::string& skip_chars,
                             const std::string& stop_chars, const std::string& single_char_tokens,
                             bool keep_delimiters)
    : m_delimiters(delimiters), m_keep_empty(keep_empty), m_skip_chars(skip_chars), m_stop_chars(stop_chars),
      m_single_char_tokens(single_char_tokens), m_keep_delimiters(keep_delimiters)
{
    build_classes();
}

NUV_TOKENIZER::NUV_TOKENIZER(const NUV_TOKENIZER& other) = default;

NUV_TOKENIZER& NUV_TOKENIZER::operator=(const NUV_TOKENIZER& other) = default;

NUV_TOKENIZER::NUV_TOKENIZER(NUV_TOKENIZER&& other) noexcept
{
    take_sets(other);
}

NUV_TOKENIZER& NUV_TOKENIZER::operator=(NUV_TOKENIZER&& other) noexcept
{
    if (this != &other)
        take_sets(other);
    return *this;
}

void NUV_TOKENIZER::take_sets(NUV_TOKENIZER& other) noexcept
{
    m_delimiters = std::move(other.m_delimiters);
    m_keep_empty = other.m_keep_empty;
    m_skip_chars = std::move(other.m_skip_chars);
    m_stop_chars = std::move(other.m_stop_chars);
    m_single_char_tokens = std::move(other.m_single_char_tokens);
    m_keep_delimiters = other.m_keep_delimiters;
    std::memcpy(m_class, other.m_class, sizeof m_class);
    // The source is left with empty sets, and its table must say so.
    other.m_delimiters.clear();
    other.m_skip_chars.clear();
    other.m_stop_chars.clear();
    other.m_single_char_tokens.clear();
    other.build_classes();
}

NUV_TOKENIZER::~NUV_TOKENIZER() = default;

void NUV_TOKENIZER::tokenize(const std::string& text, std::vector<std::string>& tokens)
{
    std::string token;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p != end) {
        // Plain bytes join the current token a run at a time.
        const unsigned char* run = p;
        while (p != end && m_class[*p] == PLAIN)
            ++p;
        token.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end)
            break;

        char c = static_cast<char>(*p);
        switch (m_class[*p++]) {
        case STOP:
            p = end;
            break;
        case SKIP:
            break;
        case DELIMITER:
            if (m_keep_delimiters)
                token += c;
            add_token(tokens, token);
            break;
        default: // SINGLE: never empty, so always emitted
            add_token(tokens, token);
            tokens.emplace_back(1, c);
            break;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
}

std::vector<std::string> NUV_TOKENIZER::tokenize(const std::string& text)
{
    std::vector<std::string> tokens;
    tokenize(text, tokens);
    return tokens;
}

void NUV_TOKENIZER::add_token(std::vector<std::string>& tokens, std::string& token)
{
    if (token.empty() && !m_keep_empty)
        return;
    tokens.push_back(token);
    token.clear();
}

// Later assignments win, so the sets are applied from the lowest precedence up. The
// zero byte ends reading whatever the sets say.
void NUV_TOKENIZER::build_classes()
{
    static const struct {
        std::string NUV_TOKENIZER::*set;
        CLASS value;
    } s_order[] = {
        {&NUV_TOKENIZER::m_single_char_tokens, SINGLE},
        {&NUV_TOKENIZER::m_delimiters, DELIMITER},
        {&NUV_TOKENIZER::m_skip_chars, SKIP},
        {&NUV_TOKENIZER::m_stop_chars, STOP},
    };
    std::memset(m_class, PLAIN, sizeof m_class);
    for (const auto& entry : s_order)
        for (char c : this->*entry.set)
            m_class[static_cast<unsigned char>(c)] = entry.value;
    m_class[0] = STOP;
}
