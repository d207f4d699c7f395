#include "Platform/VNAnswerWatch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Plays the history on the watch's rule: 'a' a watch that got its answer,
// 'm' one that did not, '.' a chance the watch passed up.
void play(VNAnswerWatch &watch, const std::string &history) {
    for (size_t i = 0; i < history.size(); ++i) {
        const bool watches = watch.nextWatch().count() > 0;
        EXPECT_EQ(watches, history[i] != '.') << "history " << history << ", step " << i;
        if (watches)
            watch.record(history[i] == 'a');
    }
}

// Plays the history through watch() itself, which keeps the count: 'a' a
// chance where the answer is there, 'm' or '.' one where it never comes.
void playWatching(VNAnswerWatch &watch, const std::string &history) {
    for (const char step : history)
        watch.watch([answered = step == 'a'] { return answered; });
}

// The next chances after the history, each watch among them missing its
// answer: 'w' watches, '-' passes up.
std::string nextChances(VNAnswerWatch &watch, int count) {
    std::string chances;
    for (int i = 0; i < count; ++i) {
        const bool watches = watch.nextWatch().count() > 0;
        chances += watches ? 'w' : '-';
        if (watches)
            watch.record(false);
    }
    return chances;
}

const std::string rest(VNAnswerWatch::chancesPerTrial - 1, '-');
const std::string passedUp(VNAnswerWatch::chancesPerTrial - 1, '.');

}  // namespace

// A thread stops watching (and spending CPU) after a few watches in a row
// that missed their answer, tries again now and then, and watches each time
// again once answers come within the watch.
TEST(AnswerWatch, RestsAfterMissesInARowAndWatchesAgainOnceAnswered) {
    struct Row {
        const char *name;
        std::string history;
        std::string next;
    };
    const Row rows[] = {
        {"fresh", "", "www" + rest + "w"},
        {"answered", "aaaa", "www" + rest + "w"},
        {"two misses", "mm", "w" + rest + "w"},
        {"two misses, then an answer", "mma", "www" + rest + "w"},
        {"three misses", "mmm", rest + "w" + rest + "w"},
        {"a trial answered", "mmm" + passedUp + "a", "www" + rest + "w"},
        {"a trial missed", "mmm" + passedUp + "m", rest + "w"},
    };
    for (const Row &row : rows) {
        VNAnswerWatch watch(std::chrono::microseconds(300));
        play(watch, row.history);
        EXPECT_EQ(nextChances(watch, int(row.next.size())), row.next) << row.name;
    }
}

// The watch ends as soon as the answer is there (a long watch, so that a
// thread held back by a busy machine still sees it), and ends without it.
TEST(AnswerWatch, EndsWithTheAnswerOrWithoutIt) {
    VNAnswerWatch answered(std::chrono::seconds(60));
    int looks = 0;
    EXPECT_TRUE(answered.watch([&] { return ++looks == 3; }));
    EXPECT_EQ(looks, 3);
    VNAnswerWatch unanswered(std::chrono::microseconds(1));
    EXPECT_FALSE(unanswered.watch([] { return false; }));
}

// The same rule kept by watch() itself: a watch that got its answer sets the
// misses back to none, one that ended without it adds one, a chance passed
// up while resting counts nothing. Watches of a microsecond, each answered at
// its first look or never.
TEST(AnswerWatch, AWatchKeepsTheCountOfItsMisses) {
    struct Row {
        const char *name;
        std::string history;
        std::string next;
    };
    const Row rows[] = {
        {"two misses", "mm", "w" + rest + "w"},
        {"two misses, then an answer", "mma", "www" + rest + "w"},
        {"three misses", "mmm", rest + "w" + rest + "w"},
        {"a trial answered", "mmm" + passedUp + "a", "www" + rest + "w"},
        {"a trial missed", "mmm" + passedUp + "m", rest + "w"},
    };
    for (const Row &row : rows) {
        VNAnswerWatch watch(std::chrono::microseconds(1));
        playWatching(watch, row.history);
        EXPECT_EQ(nextChances(watch, int(row.next.size())), row.next) << row.name;
    }
}
