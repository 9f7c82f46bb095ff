// Outcomes of requests that the relay and fake kinds answer at once, kept in
// order until the exchange collects them.
#include <cstdlib>

#include "net/net_internal.h"
#include "util/error.h"

PendingReply *pending_new()
{
    return static_cast<PendingReply *>(std::calloc(1, sizeof(PendingReply)));
}

void pending_push(PendingQueue *q, PendingReply *p)
{
    p->next = nullptr;
    if (q->tail)
        q->tail->next = p;
    else
        q->head = p;
    q->tail = p;
}

int32_t pending_take(PendingQueue *q, ByteBuffer *reply, const char *none_text)
{
    PendingReply *p = q->head;
    if (p == nullptr)
        return vnb_fail(-1, "%s", none_text);
    q->head = p->next;
    if (q->head == nullptr)
        q->tail = nullptr;
    int32_t rc = p->code;
    vnb_buf_free(reply);
    if (rc == 0)
        *reply = p->reply;  // the message changes hands
    else
        vnb_fail(rc, "%s", p->text);
    std::free(p);
    return rc;
}

void pending_clear(PendingQueue *q)
{
    while (q->head) {
        PendingReply *p = q->head;
        q->head = p->next;
        vnb_buf_free(&p->reply);
        std::free(p);
    }
    q->tail = nullptr;
}
