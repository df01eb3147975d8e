// The host's side of device notices: one connection per program that registered for them.
#include "platform/devices/notices_host.h"

#include "platform/kernel/protocol.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::devices {
namespace {

namespace protocol = platform::kernel::protocol;

// How long a program may take to answer a query; one that does not answer in time is taken as agreeing, as the
// system does with a window that hangs.
constexpr auto kAnswerTime = std::chrono::seconds(20);

struct QueryState {
    std::mutex lock;
    std::condition_variable done;
    int waiting = 0;
    bool refused = false;
};

struct Pending {
    DeviceNotice notice;
    std::shared_ptr<QueryState> query; // null for a notice without an answer
};

struct Subscriber {
    int fd = -1;
    std::mutex lock;
    std::condition_variable ready;
    std::deque<Pending> queue;
    bool closed = false;
};

std::mutex g_lock;
std::vector<std::shared_ptr<Subscriber>> g_subscribers;

void Answer(const std::shared_ptr<QueryState>& query, bool refused) {
    if (!query)
        return;
    std::lock_guard lock(query->lock);
    query->refused = query->refused || refused;
    if (--query->waiting == 0)
        query->done.notify_all();
}

std::vector<uint8_t> Encode(const DeviceNotice& notice, bool query) {
    protocol::Writer out;
    out.U32(notice.event);
    out.U32(notice.kind);
    out.U32(notice.unitMask);
    out.U32(notice.flags);
    out.Raw(&notice.classGuid, sizeof(GUID));
    out.Text(notice.name);
    out.U32(query ? 1 : 0);
    out.U32(notice.excludeProcess);
    return std::move(out.Data());
}

// Waits for the program's answer to a query: true when it refused.
bool ReadAnswer(int fd, bool& broken) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kAnswerTime).count())) != 1)
        return false;
    std::vector<uint8_t> answer;
    if (!protocol::ReceiveMessage(fd, answer, 64)) {
        broken = true;
        return false;
    }
    protocol::Reader in(answer.data(), answer.size());
    return in.U32() != 0;
}

} // namespace

void ServeSubscriber(int fd) {
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->fd = fd;
    {
        std::lock_guard lock(g_lock);
        g_subscribers.push_back(subscriber);
    }
    // The first message tells the program that its notices start now.
    bool broken = !protocol::SendMessage(fd, std::vector<uint8_t>(4, 0));
    while (!broken) {
        Pending pending;
        {
            std::unique_lock lock(subscriber->lock);
            subscriber->ready.wait(lock, [&] { return subscriber->closed || !subscriber->queue.empty(); });
            if (subscriber->closed)
                break;
            pending = std::move(subscriber->queue.front());
            subscriber->queue.pop_front();
        }
        if (!protocol::SendMessage(fd, Encode(pending.notice, pending.query != nullptr))) {
            Answer(pending.query, false);
            break;
        }
        if (pending.query)
            Answer(pending.query, ReadAnswer(fd, broken));
    }
    {
        std::lock_guard lock(g_lock);
        g_subscribers.erase(std::remove(g_subscribers.begin(), g_subscribers.end(), subscriber), g_subscribers.end());
    }
    std::lock_guard lock(subscriber->lock);
    subscriber->closed = true;
    for (auto& pending : subscriber->queue)
        Answer(pending.query, false);
    subscriber->queue.clear();
}

void Announce(const DeviceNotice& notice) {
    std::lock_guard lock(g_lock);
    for (const auto& subscriber : g_subscribers) {
        std::lock_guard queueLock(subscriber->lock);
        if (subscriber->closed)
            continue;
        subscriber->queue.push_back({notice, nullptr});
        subscriber->ready.notify_one();
    }
}

bool Query(const DeviceNotice& notice) {
    auto query = std::make_shared<QueryState>();
    {
        std::lock_guard lock(g_lock);
        for (const auto& subscriber : g_subscribers) {
            std::lock_guard queueLock(subscriber->lock);
            if (subscriber->closed)
                continue;
            {
                std::lock_guard stateLock(query->lock);
                ++query->waiting;
            }
            subscriber->queue.push_back({notice, query});
            subscriber->ready.notify_one();
        }
    }
    std::unique_lock lock(query->lock);
    query->done.wait_for(lock, kAnswerTime + std::chrono::seconds(5), [&] { return query->waiting <= 0; });
    return !query->refused;
}

void CloseSubscribers() {
    std::lock_guard lock(g_lock);
    for (const auto& subscriber : g_subscribers) {
        std::lock_guard queueLock(subscriber->lock);
        subscriber->closed = true;
        shutdown(subscriber->fd, SHUT_RDWR);
        subscriber->ready.notify_one();
    }
}

} // namespace platform::devices
