/* Bare libjpeg-turbo decode of a file into BGR rows, N times; prints the median in milliseconds. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <jpeglib.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int cmp(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int n = argc > 2 ? atoi(argv[2]) : 5;
    double times[64];
    for (int r = 0; r < n && r < 64; ++r) {
        const double t0 = now_ms();
        FILE* f = fopen(argv[1], "rb");
        if (!f) return 1;
        struct jpeg_decompress_struct d;
        struct jpeg_error_mgr e;
        d.err = jpeg_std_error(&e);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&d);
        const size_t stride = (size_t)d.output_width * 3;
        unsigned char* buf = malloc(stride * d.output_height);
        while (d.output_scanline < d.output_height) {
            unsigned char* row = buf + (size_t)d.output_scanline * stride;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        fclose(f);
        free(buf);
        times[r] = now_ms() - t0;
    }
    qsort(times, (size_t)n, sizeof times[0], cmp);
    printf("%.1f\n", times[n / 2]);
    return 0;
}
