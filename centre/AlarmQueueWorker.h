#pragma once
// The alarm queue for a desk's windows: each call returns at once and runs on
// a thread of its own with its own connection, in the order made; the answer
// is posted to the thread the desk gives (the UI's). The connection is made
// at the first call and made again after a loss; a call while the database
// cannot be reached is answered with why. Texts are station text.
#include "centre/AlarmQueue.h"
#include "centre/CentreAlarm.h"
#include "centre/Pg.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::centre {

class AlarmQueueWorker final : public IAlarmHandling {
public:
    using Post = std::function<void(std::function<void()>)>;

    // `connection`: libpq, UTF-8; `desk`: this station's name in the centre, station text.
    AlarmQueueWorker(std::string connection, std::string desk, Post post);
    // Calls not yet begun are dropped unanswered; one in flight is cut off.
    ~AlarmQueueWorker() override;
    AlarmQueueWorker(const AlarmQueueWorker&) = delete;
    AlarmQueueWorker& operator=(const AlarmQueueWorker&) = delete;

    void Take(long long id, const std::string& op, TakeDone done) override;
    void Renew(long long id, const std::string& op) override;
    void Release(long long id, const std::string& op) override;
    void Close(long long id, const std::string& op, const std::string& result, const std::string& comment,
               const std::string& handledEvent, CloseDone done) override;

    // The escalations this receiver is to send now (none unless the centre
    // chose it); none on a failure, which the next claim tries again.
    void ClaimEscalations(const std::string& receiver, std::chrono::seconds after,
                          std::function<void(std::vector<CentreAlarm>)> done);

private:
    // Runs `work` on the queue, connected first; the database's failure comes
    // back as `error` (station text), empty when it went through.
    void Enqueue(std::function<void(AlarmQueue& queue)> work, std::function<void(const std::string& error)> failed);
    void Run();

    pg::Connection m_db;
    AlarmQueue m_queue;
    Post m_post;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace kv::centre
