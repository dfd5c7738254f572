// ConcurrentTakers: several threads taking serial numbers at once from one source, for the
// tests that no number goes out twice and none is lost.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <thread>
#include <vector>

// Every number the threads took; a number taken twice shows as fewer numbers than takes.
inline std::multiset<int32_t> TakeFromThreads(int threads, int takesEach, const std::function<int32_t()>& take)
{
    std::vector<std::vector<int32_t>> taken(static_cast<size_t>(threads));
    std::vector<std::thread> takers;
    for (auto& mine : taken)
        takers.emplace_back([&take, &mine, takesEach] {
            for (int i = 0; i < takesEach; ++i)
                mine.push_back(take());
        });
    for (std::thread& taker : takers)
        taker.join();
    std::multiset<int32_t> all;
    for (const auto& mine : taken)
        all.insert(mine.begin(), mine.end());
    return all;
}
