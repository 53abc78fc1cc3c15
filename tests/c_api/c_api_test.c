/* The public header from C: compiled as C99 with every warning an error, linked against the
 * shipped library, and run on the worked example of the stored format. */
#include <kiv/codec.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char buf[8];
    encode("abc", buf);
    if (strcmp(buf, "bda") != 0) {
        fprintf(stderr, "encode(\"abc\") gave \"%s\", not \"bda\"\n", buf);
        return 1;
    }
    decode(buf, buf); /* in place */
    if (strcmp(buf, "abc") != 0) {
        fprintf(stderr, "decode(\"bda\") gave \"%s\", not \"abc\"\n", buf);
        return 1;
    }
    encode(NULL, buf); /* ignored */
    puts("encode and decode from C: ok");
    return 0;
}
