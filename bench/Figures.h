#pragma once
// The figures a benchmark prints of a series of times: median, 99th percentile, worst and mean.

#include <algorithm>
#include <cstddef>
#include <vector>

struct Stats {
    double median = 0, p99 = 0, worst = 0, mean = 0;
    size_t n = 0;
};

inline Stats Of(std::vector<double> v) {
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (const double x : v) sum += x;
    s.n = v.size();
    s.median = v[v.size() / 2];
    s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
    s.worst = v.back();
    s.mean = sum / static_cast<double>(v.size());
    return s;
}
