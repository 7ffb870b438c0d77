// kvrgen: writes a KVR version 2 picture of a synthetic night sky (a gentle
// gradient, a faint nebula, stars and noise), one line at a time, so that
// pictures of any size can be made in little memory. The same arguments
// always give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kvr_encode.h"

struct Star {
    double x, y, sigma, peak;
};

static uint64_t nextRandom(uint64_t* state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static double uniform(uint64_t* state)
{
    return (double)(nextRandom(state) >> 11) / 9007199254740992.0;
}

static std::vector<Star> placeStars(int width, int height, uint64_t* state)
{
    size_t count = 12 + (size_t)width * height / 3000;
    std::vector<Star> stars(count);

    for (Star& star : stars) {
        double brightness = std::pow(uniform(state), 4.0);
        star.x = uniform(state) * width;
        star.y = uniform(state) * height;
        star.sigma = 0.7 + 2.2 * brightness;
        star.peak = 3000.0 + 62000.0 * brightness;
    }
    std::sort(stars.begin(), stars.end(),
              [](const Star& a, const Star& b) { return a.y < b.y; });
    return stars;
}

static double skyAt(int x, int y, int width, int height)
{
    double fx = (x + 0.5) / width, fy = (y + 0.5) / height;
    double gradient = 2500.0 + 5000.0 * (0.65 * fx + 0.35 * (1.0 - fy));
    double dx = fx - 0.62, dy = fy - 0.38;
    double nebula = 4500.0 * std::exp(-(dx * dx + 0.6 * dy * dy) / 0.02);
    return gradient + nebula;
}

static void renderLine(std::vector<double>& line, int y, int width, int height,
                       const std::vector<Star>& stars, size_t* first, uint64_t* state)
{
    const double reach = 4.0 * 2.9;

    for (int x = 0; x < width; x++)
        line[x] = skyAt(x, y, width, height) + 180.0 * (uniform(state) + uniform(state) - 1.0);
    while (*first < stars.size() && stars[*first].y + reach < y)
        (*first)++;
    for (size_t s = *first; s < stars.size() && stars[s].y - reach <= y + 1; s++) {
        const Star& star = stars[s];
        double radius = 4.0 * star.sigma, dy = y + 0.5 - star.y;
        if (std::fabs(dy) > radius)
            continue;
        int from = std::max(0, (int)(star.x - radius));
        int to = std::min(width - 1, (int)(star.x + radius));
        for (int x = from; x <= to; x++) {
            double dx = x + 0.5 - star.x;
            line[x] += star.peak * std::exp(-(dx * dx + dy * dy) / (2.0 * star.sigma * star.sigma));
        }
    }
}

static int writeLine(FILE* f, const std::vector<double>& line, std::vector<uint16_t>& samples,
                     std::vector<unsigned char>& bytes)
{
    for (size_t x = 0; x < line.size(); x++)
        samples[x] = (uint16_t)std::lround(std::min(65535.0, std::max(0.0, line[x])));
    encodeSamples(samples.data(), samples.size(), bytes.data());
    return fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

static int parseCaptureTime(int argc, char* argv[], t_kvr_header* h)
{
    int year, month, day, hour = h->hour, minute = h->minute, second = h->second,
        ssecond = h->ssecond;

    if (argc > 4 && sscanf(argv[4], "%d-%d-%d", &year, &month, &day) != 3)
        return 0;
    if (argc > 5 && sscanf(argv[5], "%d:%d:%d.%d", &hour, &minute, &second, &ssecond) != 4)
        return 0;
    if (argc > 4) {
        h->year = year;
        h->month = month;
        h->day = day;
    }
    h->hour = hour;
    h->minute = minute;
    h->second = second;
    h->ssecond = ssecond;
    return 1;
}

int main(int argc, char* argv[])
{
    if (argc < 4 || argc > 6) {
        fprintf(stderr, "usage: kvrgen OUTPUT WIDTH HEIGHT [YYYY-MM-DD [hh:mm:ss.mmm]]\n");
        return 2;
    }
    int width = atoi(argv[2]), height = atoi(argv[3]);
    t_kvr_header header = validKvrHeader(width, height);
    if (width <= 0 || height <= 0 || !parseCaptureTime(argc, argv, &header)) {
        fprintf(stderr, "kvrgen: bad width, height or capture time\n");
        return 2;
    }

    FILE* f = fopen(argv[1], "wb");
    if (f == NULL) {
        perror(argv[1]);
        return 1;
    }
    unsigned char raw[KVR_HEADER_SIZE];
    encodeKvrHeader(&header, raw);
    int ok = fwrite(raw, 1, sizeof raw, f) == sizeof raw;

    uint64_t state = 0x4B5652ull ^ ((uint64_t)width << 32) ^ (uint64_t)height;
    std::vector<Star> stars = placeStars(width, height, &state);
    std::vector<double> line(width);
    std::vector<uint16_t> samples(width);
    std::vector<unsigned char> bytes(2 * (size_t)width);
    size_t first = 0;
    for (int y = 0; ok && y < height; y++) {
        renderLine(line, y, width, height, stars, &first, &state);
        ok = writeLine(f, line, samples, bytes);
    }
    if (fclose(f) != 0 || !ok) {
        perror(argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
