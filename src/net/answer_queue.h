// Outcomes of requests that a transport answers as soon as they are sent,
// kept in order until the receiver takes them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "util/bytebuf.h"

class AnswerQueue {
public:
    AnswerQueue() = default;
    AnswerQueue(const AnswerQueue &) = delete;
    AnswerQueue &operator=(const AnswerQueue &) = delete;
    ~AnswerQueue() { clear(); }

    // Keeps a reply message; the buffer changes hands and is left empty.
    void push_reply(ByteBuffer &reply);
    void push_failure(int32_t code, const char *text);
    // The oldest outcome (the newest with newest_first): 0 with its message
    // moved into `msg`, or its failure code with the error text set; -1 with
    // `none_text` when nothing waits.
    int32_t take(ByteBuffer &msg, const char *none_text, bool newest_first = false);
    size_t size() const { return answers_.size(); }
    void clear();

private:
    struct Answer {
        int32_t code;
        std::string text;
        ByteBuffer reply;
    };
    std::deque<Answer> answers_;
};
