// The formatted reader of the data-file layer: a scanf that works directly on an
// open DataFile with one byte of look-ahead (the stream's push-back), so text files
// inside archives and gzip files are parsed as they stream in.
//
// Supported directives: white space (skips any white space), ordinary bytes
// (must match), "%%", and conversions "%[*][width][hh|h|l|ll|L]conv" with conv one
// of d i o x f s c n [set]. Anything else ends the scan. Like scanf, a number is
// taken greedily: "1e" fails as a number and its bytes stay consumed.
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

#include "core/datafile_local.h"

enum SizeKind { SIZE_CHAR, SIZE_SHORT, SIZE_DEFAULT, SIZE_LONG, SIZE_LONG_LONG, SIZE_LONG_DOUBLE };

struct Scanner {
    DataFile *file;
    int consumed;       // bytes taken since the scan began (%n)
};

static int peek(Scanner *s)
{
    return data_peekc(s->file);
}

static void take(Scanner *s)
{
    if (data_getc(s->file) != DATA_EOF)
        s->consumed++;
}

static bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static void skip_space(Scanner *s)
{
    while (is_space(data_peekc(s->file)))
        take(s);
}

static int digit_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// An integer in the given base (0: decided by a "0x" or "0" prefix, as %i does).
// The value saturates instead of overflowing.
static bool scan_integer(Scanner *s, int base, int width, unsigned long long *magnitude,
                         bool *negative)
{
    *negative = false;
    *magnitude = 0;
    int c = peek(s);
    if (width > 0 && (c == '+' || c == '-')) {
        *negative = c == '-';
        take(s);
        width--;
        c = peek(s);
    }
    int digits = 0;
    if (width > 0 && c == '0' && (base == 0 || base == 16)) {
        take(s);
        width--;
        digits = 1;
        c = peek(s);
        if (width > 0 && (c == 'x' || c == 'X')) {
            take(s);
            width--;
            base = 16;
            c = peek(s);
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0)
        base = 10;
    unsigned long long value = 0;
    while (width > 0 && digit_value(c) < base) {
        unsigned long long next = value * base + digit_value(c);
        value = (next / base == value) ? next : ULLONG_MAX;
        take(s);
        width--;
        digits++;
        c = peek(s);
    }
    *magnitude = value;
    return digits > 0;
}

static void store_integer(va_list *args, SizeKind size, long long value)
{
    switch (size) {
    case SIZE_CHAR:
        *va_arg(*args, signed char *) = (signed char)value;
        break;
    case SIZE_SHORT:
        *va_arg(*args, short *) = (short)value;
        break;
    case SIZE_DEFAULT:
        *va_arg(*args, int *) = (int)value;
        break;
    case SIZE_LONG:
        *va_arg(*args, long *) = (long)value;
        break;
    case SIZE_LONG_LONG:
    case SIZE_LONG_DOUBLE:
        *va_arg(*args, long long *) = value;
        break;
    }
}

static void take_digits(Scanner *s, std::string *text, int *width)
{
    while (*width > 0 && isdigit(peek(s))) {
        *text += (char)data_peekc(s->file);
        take(s);
        (*width)--;
    }
}

// [sign] digits [. digits] [e [sign] digits], at least one mantissa digit.
static bool scan_real(Scanner *s, int width, long double *value)
{
    std::string text;
    int c = peek(s);
    if (width > 0 && (c == '+' || c == '-')) {
        text += (char)c;
        take(s);
        width--;
    }
    size_t before = text.size();
    take_digits(s, &text, &width);
    bool mantissa = text.size() > before;
    if (width > 0 && peek(s) == '.') {
        text += '.';
        take(s);
        width--;
        size_t at = text.size();
        take_digits(s, &text, &width);
        mantissa = mantissa || text.size() > at;
    }
    if (!mantissa)
        return false;
    c = peek(s);
    if (width > 0 && (c == 'e' || c == 'E')) {
        text += 'e';
        take(s);
        width--;
        c = peek(s);
        if (width > 0 && (c == '+' || c == '-')) {
            text += (char)c;
            take(s);
            width--;
        }
        size_t at = text.size();
        take_digits(s, &text, &width);
        if (text.size() == at)
            return false;
    }
    *value = strtold(text.c_str(), nullptr);
    return true;
}

// The set of a "%[...]" directive; returns the format position after its "]", or
// null when the set is never closed.
static const char *parse_set(const char *f, bool set[256])
{
    bool invert = false;
    if (*f == '^') {
        invert = true;
        f++;
    }
    bool members[256] = {};
    const char *start = f;
    for (; *f && (*f != ']' || f == start); f++) {
        unsigned char c = (unsigned char)*f;
        if (f[1] == '-' && f[2] && f[2] != ']' && (unsigned char)f[2] >= c) {
            for (int x = c; x <= (unsigned char)f[2]; x++)
                members[x] = true;
            f += 2;
        } else {
            members[c] = true;
        }
    }
    if (*f != ']')
        return nullptr;
    for (int i = 0; i < 256; i++)
        set[i] = members[i] != invert;
    return f + 1;
}

int data_vscanf(DataFile *file, const char *format, va_list args_in)
{
    if (!file || !format)
        return DATA_EOF;
    va_list args;
    va_copy(args, args_in);
    Scanner s = {file, 0};
    bool input_ended = false;   // a directive failed because the input ended
    int assigned = 0;
    int conversions = 0;
    const char *f = format;

    while (*f) {
        if (is_space((unsigned char)*f)) {
            while (is_space((unsigned char)*f))
                f++;
            skip_space(&s);
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%') {
                f++;
                skip_space(&s);
            }
            if (peek(&s) != (unsigned char)*f) {
                input_ended = peek(&s) == DATA_EOF;
                break;
            }
            take(&s);
            f++;
            continue;
        }

        f++;
        bool suppress = *f == '*';
        if (suppress)
            f++;
        int width = 0;
        while (isdigit((unsigned char)*f) && width < 1000000)
            width = width * 10 + (*f++ - '0');
        if (width == 0)
            width = INT_MAX;
        SizeKind size = SIZE_DEFAULT;
        if (f[0] == 'h' && f[1] == 'h') {
            size = SIZE_CHAR;
            f += 2;
        } else if (f[0] == 'h') {
            size = SIZE_SHORT;
            f++;
        } else if (f[0] == 'l' && f[1] == 'l') {
            size = SIZE_LONG_LONG;
            f += 2;
        } else if (f[0] == 'l') {
            size = SIZE_LONG;
            f++;
        } else if (f[0] == 'L') {
            size = SIZE_LONG_DOUBLE;
            f++;
        }

        char conversion = *f++;
        bool ok = true;
        switch (conversion) {
        case 'n':
            if (!suppress)
                store_integer(&args, size, s.consumed);
            continue;
        case 'd':
        case 'i':
        case 'o':
        case 'x': {
            skip_space(&s);
            int base = conversion == 'd' ? 10 : conversion == 'i' ? 0 : conversion == 'o' ? 8 : 16;
            unsigned long long magnitude;
            bool negative;
            ok = scan_integer(&s, base, width, &magnitude, &negative);
            if (ok && !suppress) {
                long long value;
                if (conversion == 'o' || conversion == 'x')
                    value = (long long)(negative ? 0 - magnitude : magnitude);
                else if (negative)
                    value = magnitude > (unsigned long long)LLONG_MAX ? LLONG_MIN
                                                                       : -(long long)magnitude;
                else
                    value = magnitude > (unsigned long long)LLONG_MAX ? LLONG_MAX
                                                                       : (long long)magnitude;
                store_integer(&args, size, value);
            }
            break;
        }
        case 'f': {
            skip_space(&s);
            long double value;
            ok = scan_real(&s, width, &value);
            if (ok && !suppress) {
                if (size == SIZE_LONG)
                    *va_arg(args, double *) = (double)value;
                else if (size == SIZE_LONG_DOUBLE)
                    *va_arg(args, long double *) = value;
                else
                    *va_arg(args, float *) = (float)value;
            }
            break;
        }
        case 's':
        case 'c':
        case '[': {
            bool set[256];
            if (conversion == 's') {
                skip_space(&s);
                for (int i = 0; i < 256; i++)
                    set[i] = !is_space(i);
            } else if (conversion == 'c') {
                for (int i = 0; i < 256; i++)
                    set[i] = true;
                if (width == INT_MAX)
                    width = 1;
            } else {
                f = parse_set(f, set);
                if (!f)
                    goto done;
            }
            char *out = suppress ? nullptr : va_arg(args, char *);
            int count = 0;
            for (int c = peek(&s); count < width && c != DATA_EOF && set[c]; c = peek(&s)) {
                if (out)
                    out[count] = (char)c;
                count++;
                take(&s);
            }
            if (out && conversion != 'c' && count > 0)
                out[count] = 0;
            ok = conversion == 'c' ? count == width : count > 0;
            break;
        }
        default:
            goto done;
        }
        if (!ok) {
            input_ended = peek(&s) == DATA_EOF;
            break;
        }
        conversions++;
        if (!suppress)
            assigned++;
    }
done:
    va_end(args);
    if (input_ended && conversions == 0)
        return DATA_EOF;
    return assigned;
}

int data_scanf(DataFile *file, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = data_vscanf(file, format, args);
    va_end(args);
    return n;
}

int data_read_int(DataFile *file)
{
    int value;
    if (data_scanf(file, "%d", &value) == 1)
        return value;
    return INT_MIN;
}

// A line holding only "#" is a comment too: the scan " #%*[^\n]" alone would stop
// there, after taking the "#", and leave any comment lines below it unread.
void data_skip_comments(DataFile *file)
{
    if (!file)
        return;
    for (;;) {
        while (is_space(data_peekc(file)))
            data_getc(file);
        if (data_peekc(file) != '#')
            return;
        while (data_peekc(file) != '\n' && data_peekc(file) != DATA_EOF)
            data_getc(file);
    }
}
