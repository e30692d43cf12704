#include "transcode/command_rewrite.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

#include "bits/byte_order.h"
#include "bits/packet_writer.h"
#include "transcode/config_index.h"
#include "transcode/text_integer.h"

namespace tarnic {

namespace {

// Words are separated by runs of this character alone; tabs belong to the words.
constexpr char SPACE = ' ';

constexpr std::size_t OLD_SCORE_FIELDS = 6;
constexpr int ADDED_SCORE_FIELDS = 8;

/// Hands out the words of a command in order. Past the last word it hands out
/// empty words, which read as 0, so a short command still yields every field.
class WordCursor {
public:
    explicit WordCursor(std::string_view text) : rest_(text) {}

    std::string_view next() {
        // Words are short: plain loops, rather than a library search call for each.
        std::size_t start = 0;
        while (start < rest_.size() && rest_[start] == SPACE) ++start;
        std::size_t end = start;
        while (end < rest_.size() && rest_[end] != SPACE) ++end;
        const std::string_view word = rest_.substr(start, end - start);
        rest_.remove_prefix(end);
        return word;
    }

    std::int32_t nextInteger() { return parseTextInteger(next()); }

    /// What is left of the text, and a way to move past the part of it read directly.
    std::string_view rest() const { return rest_; }
    void skipTo(const char* at) { rest_.remove_prefix(std::size_t(at - rest_.data())); }

private:
    std::string_view rest_;
};

/// A renumbered "cs" command in three parts: the text up to the first space, the new
/// index, and the text behind the second space.
struct RenumberedConfigString {
    std::string_view name;
    std::array<char, 12> index;
    std::size_t indexLength;
    std::string_view text;
};

/// What becomes of a "cs" command.
enum class ConfigStringRewrite { UNCHANGED, DROPPED, RENUMBERED };

/// Prints `value` at `at`, room for eleven characters; returns where it ends. Indices
/// are small: those take a short loop rather than the library's general conversion.
char* printInteger(char* at, std::int32_t value) {
    if (value < 0 || value >= 100000) return std::to_chars(at, at + 11, value).ptr;
    char digits[5];
    char* first = digits + sizeof digits;
    auto rest = unsigned(value);
    do {
        *--first = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    const auto length = std::size_t(digits + sizeof digits - first);
    std::memcpy(at, first, length);
    return at + length;
}

/// Where a "cs" command's name ends and the index word and its text part begin.
struct ConfigStringWords {
    std::size_t firstSpace, secondSpace;
    std::int32_t index;
};

/// Finds the words of a "cs" command; gives false when it has no index word and text
/// part to renumber.
bool findConfigStringWords(std::string_view command, ConfigStringWords& words) {
    // Mostly "cs", one space, digits and a space: read directly.
    constexpr std::size_t NAME = 2;
    std::size_t end = NAME + 1;
    std::int32_t index = 0;
    for (; end < command.size() && end - NAME <= 9 && unsigned(command[end] - '0') <= 9; ++end) {
        index = index * 10 + (command[end] - '0');
    }
    if (command.size() > NAME && command[NAME] == SPACE && end > NAME + 1 && end < command.size() &&
        command[end] == SPACE) {
        words = {NAME, end, index};
        return true;
    }
    // The text part is whatever follows the second space, wherever the words fall.
    words.firstSpace = command.find(SPACE);
    if (words.firstSpace == std::string_view::npos) return false;
    words.secondSpace = command.find(SPACE, words.firstSpace + 1);
    if (words.secondSpace == std::string_view::npos) return false;
    const std::string_view indexWord = WordCursor(command.substr(words.firstSpace)).next();
    if (indexWord.empty()) return false;
    words.index = parseTextInteger(indexWord);
    return true;
}

ConfigStringRewrite renumberConfigStringCommand(std::string_view command, RenumberedConfigString& parts) {
    ConfigStringWords words;
    if (!findConfigStringWords(command, words)) return ConfigStringRewrite::UNCHANGED;
    const std::optional<std::int32_t> newIndex = remapConfigIndex(words.index);
    if (!newIndex) return ConfigStringRewrite::DROPPED;
    parts.name = command.substr(0, words.firstSpace);
    parts.indexLength = std::size_t(printInteger(parts.index.data(), *newIndex) - parts.index.data());
    parts.text = command.substr(words.secondSpace + 1);
    return ConfigStringRewrite::RENUMBERED;
}

/// Room for one rebuilt score entry: each old field as " " and an int32 at its longest,
/// then the added fields, " 0" each.
constexpr std::size_t SCORE_ENTRY_CHARS = OLD_SCORE_FIELDS * 12 + 2 * ADDED_SCORE_FIELDS;

/// Reads the next word of `words` as a score value and writes its integer value at
/// `at`; returns where it ends. Most words print as themselves (an optional minus,
/// then digits without a leading zero, too few to saturate): those are copied as they
/// are read, in one pass; any other word is read again whole and printed anew.
char* writeScoreValue(char* at, WordCursor& words) {
    const std::string_view rest = words.rest();
    const char* const end = rest.data() + rest.size();
    const char* from = rest.data();
    while (from < end && *from == SPACE) ++from;
    const char* const word = from;
    char* to = at;
    const bool negative = from < end && *from == '-';
    if (negative) *to++ = *from++;
    // At most ten digits: nine print as they came, a tenth may saturate.
    const char* const digits = from;
    while (from < end && from - digits < 10 && unsigned(*from - '0') <= 9) *to++ = *from++;
    const auto digitCount = std::size_t(from - digits);
    const bool wordEnds = from == end || *from == SPACE;
    if (wordEnds && digitCount >= 1 && digitCount <= 9 && (digits[0] != '0' || (digitCount == 1 && !negative))) {
        words.skipTo(from);
        return to;
    }
    while (from < end && *from != SPACE) ++from;
    words.skipTo(from);
    return std::to_chars(at, at + 11, parseTextInteger({word, std::size_t(from - word)})).ptr;
}

/// The fields a score entry gains, each " 0".
constexpr std::string_view ADDED_SCORE_TEXT = " 0 0 0 0 0 0 0 0";
static_assert(ADDED_SCORE_TEXT.size() == 2 * ADDED_SCORE_FIELDS);

/// Reads one score entry's old fields from `words` word by word and writes the rebuilt
/// entry at `at`; returns where it ends.
char* rebuildScoreEntry(char* at, WordCursor& words) {
    for (std::size_t field = 0; field < OLD_SCORE_FIELDS; ++field) {
        *at++ = ' ';
        at = writeScoreValue(at, words);
    }
    std::memcpy(at, ADDED_SCORE_TEXT.data(), ADDED_SCORE_TEXT.size());
    return at + ADDED_SCORE_TEXT.size();
}

/// Most characters of a score list classified at once; an entry beyond them is read
/// word by word.
constexpr std::size_t SCORE_MASK_CHARS = MAX_REWRITTEN_COMMAND_CHARS + 1;
constexpr std::size_t SCORE_MASK_WORDS = SCORE_MASK_CHARS / 64;
static_assert(SCORE_MASK_CHARS % 64 == 0);

constexpr std::uint64_t BYTE_LOW_BITS = 0x7f7f7f7f7f7f7f7f;
constexpr std::uint64_t BYTE_HIGH_BITS = 0x8080808080808080;
constexpr std::uint64_t EVERY_BYTE = 0x0101010101010101;

/// The high bits of the eight bytes of `word` gathered into eight bits, byte 0's lowest.
constexpr std::uint64_t gatherHighBits(std::uint64_t word) {
    return ((word & BYTE_HIGH_BITS) * 0x0002040810204081) >> 56;
}
static_assert(gatherHighBits(0x80ff7f0080000080) == 0xc9 && gatherHighBits(~std::uint64_t{0}) == 0xff);

/// The classes of characters, one bit each, character 0 in bit 0.
struct CharClasses {
    std::uint64_t spaces, minus, digits, zeros;
    std::uint64_t highBits;  ///< the high bits of the bytes classified, in place
};

/// Classifies `parts` groups of eight characters, at most eight. Bytes are classified
/// by their low seven bits: the caller looks at the high bits.
CharClasses classifyChars(const std::uint8_t* chars, unsigned parts) {
    // The low seven bits of a byte, XORed with a character, plus 0x7f set the byte's
    // high bit unless they were zero; the sums stay inside their bytes. Three masks are
    // gathered, each with its bits set for the characters outside it: digits, minus
    // signs and zeros together, spaces and minus signs together. A minus sign is no
    // digit, a zero is, and no space is either.
    std::uint64_t notDigit = 0, notMinusOrZero = 0, notSpaceOrMinus = 0, highBits = 0;
    for (unsigned part = 0; part < parts; ++part) {
        const std::uint64_t eight = loadLittle64(chars + 8 * part);
        highBits |= eight & BYTE_HIGH_BITS;
        const std::uint64_t low = eight & BYTE_LOW_BITS;
        const std::uint64_t fromZero = low ^ ('0' * EVERY_BYTE);
        const std::uint64_t notMinus = (low ^ ('-' * EVERY_BYTE)) + BYTE_LOW_BITS;
        // 10 or more past '0' is no digit.
        notDigit |= gatherHighBits(fromZero + (0x80 - 10) * EVERY_BYTE) << (8 * part);
        notMinusOrZero |= gatherHighBits(notMinus & (fromZero + BYTE_LOW_BITS)) << (8 * part);
        notSpaceOrMinus |= gatherHighBits(notMinus & ((low ^ (SPACE * EVERY_BYTE)) + BYTE_LOW_BITS)) << (8 * part);
    }
    // Characters past the groups classified fall in no class.
    const std::uint64_t beyond = parts == 8 ? 0 : ~lowBits(8 * parts);
    const std::uint64_t digits = ~(notDigit | beyond);
    const std::uint64_t minusOrZero = ~(notMinusOrZero | beyond);
    const std::uint64_t minus = minusOrZero & ~digits;
    return {~(notSpaceOrMinus | beyond) & ~minus, minus, digits, minusOrZero & digits, highBits};
}

/// A score list classified for the entries copied whole: one bit per character, 64 to
/// a word, character 0 in bit 0 of word 0. A word of zeros follows the last one used.
struct ScoreListMasks {
    std::array<std::uint64_t, SCORE_MASK_WORDS + 1> spaces;
    /// Characters that keep the entry they belong to from being copied whole: any but
    /// a space, '-' or a digit; a space not followed by '-' or a digit; a '-' not
    /// between a space and a digit other than '0'; a '0' between a space and a digit;
    /// the tenth digit of a run; the last character classified when more of the list
    /// follows.
    std::array<std::uint64_t, SCORE_MASK_WORDS + 1> unfit;
    std::size_t length;     ///< characters classified
    std::size_t nextUnfit;  ///< the first unfit character

    /// The first unfit character at or after `start`, or `length`.
    std::size_t findUnfit(std::size_t start) const {
        std::size_t word = start / 64;
        std::uint64_t bits = unfit[word] & ~lowBits(unsigned(start % 64));
        const std::size_t words = (length + 63) / 64;
        while (bits == 0) {
            if (++word >= words) return length;
            bits = unfit[word];
        }
        return std::min(length, 64 * word + std::size_t(std::countr_zero(bits)));
    }
};

void classifyScoreList(std::string_view list, ScoreListMasks& masks) {
    const std::size_t length = std::min(list.size(), SCORE_MASK_CHARS);
    const std::size_t words = (length + 63) / 64;
    masks.length = length;
    const auto* const chars = reinterpret_cast<const std::uint8_t*>(list.data());

    // First the classes of each character, then the rules between neighbours.
    std::array<std::uint64_t, SCORE_MASK_WORDS + 1> minus, digits, zeros;
    std::uint64_t highBits = 0;
    const auto store = [&](std::size_t word, const CharClasses& classes) {
        highBits |= classes.highBits;
        masks.spaces[word] = classes.spaces;
        minus[word] = classes.minus;
        digits[word] = classes.digits;
        zeros[word] = classes.zeros;
    };
    const std::size_t wholeWords = length / 64;
    for (std::size_t word = 0; word < wholeWords; ++word) store(word, classifyChars(chars + 64 * word, 8));
    if (wholeWords < words) {
        // Never read past the text: its last characters are classified in a copy, behind
        // which zero bytes fall in no class.
        std::array<std::uint8_t, 64> tail{};
        const std::size_t tailLength = length - 64 * wholeWords;
        std::memcpy(tail.data(), chars + 64 * wholeWords, tailLength);
        store(wholeWords, classifyChars(tail.data(), unsigned(tailLength + 7) / 8));
    }
    masks.spaces[words] = minus[words] = digits[words] = zeros[words] = 0;

    // Bit i of a "before" mask holds character i - 1, of an "after" mask character i + 1.
    std::uint64_t spacesBehind = 0, digitsBehind = 0, pairsBehind = 0, foursBehind = 0;
    for (std::size_t word = 0; word < words; ++word) {
        const std::uint64_t space = masks.spaces[word], minusSign = minus[word], digit = digits[word],
                            zero = zeros[word];
        const std::uint64_t numberStart = minusSign | digit;
        const std::uint64_t nonZeroDigit = digit & ~zero;
        const std::uint64_t nextNumberStart = minus[word + 1] | digits[word + 1];
        const std::uint64_t nextNonZeroDigit = digits[word + 1] & ~zeros[word + 1];
        const std::uint64_t afterNumberStart = numberStart >> 1 | nextNumberStart << 63;
        const std::uint64_t afterNonZeroDigit = nonZeroDigit >> 1 | nextNonZeroDigit << 63;
        const std::uint64_t afterDigit = digit >> 1 | digits[word + 1] << 63;
        const std::uint64_t beforeSpace = space << 1 | spacesBehind >> 63;
        // Digit runs: bit i is set in `pairs` where characters i - 1 and i are digits,
        // in `fours` for i - 3 to i, in `tens` for i - 9 to i.
        const std::uint64_t pairs = digit & (digit << 1 | digitsBehind >> 63);
        const std::uint64_t fours = pairs & (pairs << 2 | pairsBehind >> 62);
        const std::uint64_t eights = fours & (fours << 4 | foursBehind >> 60);
        const std::uint64_t tens = eights & (pairs << 8 | pairsBehind >> 56);
        masks.unfit[word] = ~(space | numberStart) | (space & ~afterNumberStart) |
                            (minusSign & ~(beforeSpace & afterNonZeroDigit)) | (zero & beforeSpace & afterDigit) |
                            tens;
        spacesBehind = space;
        digitsBehind = digit;
        pairsBehind = pairs;
        foursBehind = fours;
    }
    // Past the characters classified nothing is known.
    if (length < list.size()) masks.unfit[(length - 1) / 64] |= std::uint64_t{1} << ((length - 1) % 64);
    masks.nextUnfit = length == 0 ? 0 : masks.findUnfit(0);
    // Characters beyond seven bits were classified by their low bits alone: any of them
    // leaves the whole list to be read word by word, as if none had been classified.
    if (highBits != 0) masks.length = 0;
}

/// The length of the score entry at `start`, below `classified`, when it can be copied
/// as it stands (six fields, each a single space and a value that prints as it came,
/// then a space or the end of the text) and ends before `nextUnfit`, else 0.
std::size_t wholeEntryLength(const std::uint64_t* spaceMask, std::size_t classified, std::size_t nextUnfit,
                             std::size_t start) {
    const std::size_t word = start / 64;
    const unsigned shift = unsigned(start % 64);
    // The 64 characters from `start` on; the second shift keeps a whole word's shift defined.
    const std::uint64_t spaces = spaceMask[word] >> shift | spaceMask[word + 1] << (63 - shift) << 1;
    // The sixth space from the start begins the last field; the seventh, or the end
    // of the text, ends the entry.
    std::uint64_t later = spaces;
    for (int field = 1; field < 6; ++field) later &= later - 1;
    if ((spaces & 1) == 0 || later == 0) return 0;
    later &= later - 1;
    const std::size_t length = later != 0 ? std::size_t(std::countr_zero(later)) : classified - start;
    return start + length <= nextUnfit && length <= 64 ? length : 0;
}

/// The decimal digits of a count, 0 to MAX_SCORE_ENTRIES.
std::size_t countDigits(int count) { return count < 10 ? 1 : 2; }
static_assert(MAX_SCORE_ENTRIES < 100);

constexpr std::size_t NAME_CHARS = std::string_view("scores ").size();
/// Room for "scores", the count and the two values behind it.
constexpr std::size_t SCORE_HEADER_CHARS = NAME_CHARS + 2 + 2 * 12;
/// Room behind an entry: the widest entry read word by word, or one copied 64
/// characters at a time with its added fields behind it.
constexpr std::size_t SCORE_ENTRY_ROOM = std::max(SCORE_ENTRY_CHARS, 64 + ADDED_SCORE_TEXT.size());
static_assert(SCORE_HEADER_CHARS + MAX_SCORE_LIST_CHARS + SCORE_ENTRY_ROOM <= std::tuple_size_v<RewriteBuffer>);

/// Reads a space and a value that prints as it came (an optional minus, then one to
/// nine digits without a leading zero, and no "-0") ending at a space or the end of
/// `text`, from `at` on; moves `at` past it. Gives false, with `at` left alone, for
/// anything else.
bool readPlainValue(std::string_view text, std::size_t& at, std::int32_t& value) {
    std::size_t end = at;
    if (end == text.size() || text[end] != SPACE) return false;
    ++end;
    const bool negative = end < text.size() && text[end] == '-';
    if (negative) ++end;
    const std::size_t digits = end;
    std::int64_t magnitude = 0;
    for (; end < text.size() && end - digits < 10 && unsigned(text[end] - '0') <= 9; ++end) {
        magnitude = magnitude * 10 + (text[end] - '0');
    }
    const std::size_t digitCount = end - digits;
    if (digitCount == 0 || digitCount > 9 || (text[digits] == '0' && (digitCount > 1 || negative))) return false;
    if (end < text.size() && text[end] != SPACE) return false;
    value = std::int32_t(negative ? -magnitude : magnitude);
    at = end;
    return true;
}

std::string_view rewriteScoresCommand(std::string_view command, RewriteBuffer& buffer) {
    // "scores N" and the two values behind it; only N depends on the entries kept. Mostly
    // the three values print as they came and are read directly.
    std::int32_t count;
    std::array<char, 2 * 12> headerTail;
    std::size_t headerTailLength;
    std::string_view text;
    // The command starts with "scores", the rebuilt command's name: when plain values
    // follow, each behind a single space, the header stays as it came.
    std::size_t at = NAME_CHARS - 1;
    std::int32_t secondValue, thirdValue;
    const bool plainCount = readPlainValue(command, at, count);
    const std::size_t tailStart = at;
    if (plainCount && readPlainValue(command, at, secondValue) && readPlainValue(command, at, thirdValue)) {
        headerTailLength = at - tailStart;
        std::memcpy(headerTail.data(), command.data() + tailStart, headerTailLength);
        text = command.substr(at);
    } else {
        WordCursor words(command);
        words.next();  // the rebuilt command is named "scores" whatever the first word was
        count = words.nextInteger();
        secondValue = words.nextInteger();
        thirdValue = words.nextInteger();
        char* tailEnd = headerTail.data();
        *tailEnd++ = ' ';
        tailEnd = std::to_chars(tailEnd, headerTail.data() + headerTail.size(), secondValue).ptr;
        *tailEnd++ = ' ';
        tailEnd = std::to_chars(tailEnd, headerTail.data() + headerTail.size(), thirdValue).ptr;
        headerTailLength = std::size_t(tailEnd - headerTail.data());
        text = words.rest();
    }
    const int entriesToRead = std::clamp(count, 0, MAX_SCORE_ENTRIES);

    // Whole entries only, the first ones kept, and the whole command short enough
    // for pktWriteString: a refused command would lose every entry. The list goes
    // behind room for the header, which is written in front of it at the end.
    char* const list = buffer.data() + SCORE_HEADER_CHARS;
    // The list and the count's digits together, so that the command stays below
    // MAX_STRING_CHARS.
    const std::size_t commandRoom = MAX_STRING_CHARS - 1 - NAME_CHARS - headerTailLength;
    std::size_t listLength = 0;
    int entriesWritten = 0;
    if (entriesToRead > 0) {
        ScoreListMasks masks;
        classifyScoreList(text, masks);
        const std::size_t classified = masks.length;
        std::size_t nextUnfit = masks.nextUnfit;
        at = 0;
        for (; entriesWritten < entriesToRead; ++entriesWritten) {
            // Written behind the list, and kept only when it fits.
            char* const entry = list + listLength;
            char* end;
            // Past an unfit character only after an entry read word by word.
            if (at > nextUnfit && at < classified) nextUnfit = masks.findUnfit(at);
            const std::size_t length =
                at < classified ? wholeEntryLength(masks.spaces.data(), classified, nextUnfit, at) : 0;
            if (length != 0) {
                // In fixed sizes where the text goes on far enough: the room behind
                // the entry takes the characters copied past it.
                const char* const from = text.data() + at;
                const std::size_t available = text.size() - at;
                if (length <= 32 && available >= 32) {
                    std::memcpy(entry, from, 32);
                } else if (available >= 64) {
                    std::memcpy(entry, from, 64);
                } else {
                    std::memcpy(entry, from, length);
                }
                std::memcpy(entry + length, ADDED_SCORE_TEXT.data(), ADDED_SCORE_TEXT.size());
                end = entry + length + ADDED_SCORE_TEXT.size();
                at += length;
            } else {
                WordCursor entryWords(text.substr(at));
                end = rebuildScoreEntry(entry, entryWords);
                at = std::size_t(entryWords.rest().data() - text.data());
            }
            const auto longer = std::size_t(end - list);
            if (longer > std::min(MAX_SCORE_LIST_CHARS, commandRoom - countDigits(entriesWritten + 1))) break;
            listLength = longer;
        }
    }
    char* const header = list - headerTailLength - countDigits(entriesWritten) - NAME_CHARS;
    std::memcpy(header, "scores ", NAME_CHARS);
    std::to_chars(header + NAME_CHARS, list, entriesWritten);
    std::memcpy(list - headerTailLength, headerTail.data(), headerTailLength);
    return {header, std::size_t(list + listLength - header)};
}

}  // namespace

std::string_view rewriteServerCommand(std::string_view command, RewriteBuffer& buffer) {
    // A rewritten "cs" command starts with "cs" or is empty, so at most one rewrite applies.
    if (command.starts_with("cs")) {
        RenumberedConfigString parts;
        switch (renumberConfigStringCommand(command, parts)) {
            case ConfigStringRewrite::UNCHANGED: return command;
            case ConfigStringRewrite::DROPPED: return {};
            case ConfigStringRewrite::RENUMBERED: break;
        }
        char* at = buffer.data();
        const auto append = [&at](const char* chars, std::size_t length) {
            std::memcpy(at, chars, length);
            at += length;
        };
        append(parts.name.data(), parts.name.size());
        *at++ = SPACE;
        append(parts.index.data(), parts.indexLength);
        *at++ = SPACE;
        append(parts.text.data(), parts.text.size());
        return {buffer.data(), std::size_t(at - buffer.data())};
    }
    if (command.starts_with("scores")) return rewriteScoresCommand(command, buffer);
    return command;
}

std::string rewriteServerCommand(std::string_view command) {
    // Scores lists are cut short anyway; longer "cs" commands are put together here.
    if (command.size() > MAX_REWRITTEN_COMMAND_CHARS && command.starts_with("cs")) {
        RenumberedConfigString parts;
        switch (renumberConfigStringCommand(command, parts)) {
            case ConfigStringRewrite::UNCHANGED: return std::string(command);
            case ConfigStringRewrite::DROPPED: return {};
            case ConfigStringRewrite::RENUMBERED: break;
        }
        std::string rebuilt(parts.name);
        rebuilt += SPACE;
        rebuilt.append(parts.index.data(), parts.indexLength);
        rebuilt += SPACE;
        rebuilt += parts.text;
        return rebuilt;
    }
    RewriteBuffer buffer;
    return std::string(rewriteServerCommand(command, buffer));
}

}  // namespace tarnic
