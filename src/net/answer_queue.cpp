#include "net/answer_queue.h"

#include "util/error.h"

void AnswerQueue::push_reply(ByteBuffer &reply)
{
    answers_.push_back(Answer{0, {}, reply});
    reply = ByteBuffer{};
}

void AnswerQueue::push_failure(int32_t code, const char *text)
{
    answers_.push_back(Answer{code, text, ByteBuffer{}});
}

int32_t AnswerQueue::take(ByteBuffer &msg, const char *none_text, bool newest_first)
{
    if (answers_.empty())
        return vnb_fail(-1, "%s", none_text);
    Answer a = std::move(newest_first ? answers_.back() : answers_.front());
    if (newest_first)
        answers_.pop_back();
    else
        answers_.pop_front();
    vnb_buf_free(&msg);
    if (a.code != 0)
        return vnb_fail(a.code, "%s", a.text.c_str());
    msg = a.reply;
    return 0;
}

void AnswerQueue::clear()
{
    for (Answer &a : answers_)
        vnb_buf_free(&a.reply);
    answers_.clear();
}
