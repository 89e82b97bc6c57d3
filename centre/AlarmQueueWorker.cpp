#include "centre/AlarmQueueWorker.h"

#include "centre/Utf8.h"

namespace kv::centre {

AlarmQueueWorker::AlarmQueueWorker(std::string connection, std::string desk, Post post)
    : m_db(std::move(connection)), m_queue(m_db, std::move(desk)), m_post(std::move(post))
{
    m_thread = std::thread([this] { Run(); });
}

AlarmQueueWorker::~AlarmQueueWorker()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_db.Abort();
    m_thread.join();
}

void AlarmQueueWorker::Enqueue(std::function<void(AlarmQueue& queue)> work,
                               std::function<void(const std::string& error)> failed)
{
    std::lock_guard lock(m_lock);
    m_jobs.push_back([this, work = std::move(work), failed = std::move(failed)] {
        try {
            if (!m_db.StillConnected())
                m_db.Connect();
            work(m_queue);
        } catch (const pg::Error& e) {
            // A lost connection is made again by the next call.
            if (!m_db.Connected())
                m_db.Disconnect();
            // libpq's second line ("This probably means...") is for developers.
            const std::string what = e.what();
            if (failed)
                failed(Cp1251FromUtf8(what.substr(0, what.find('\n'))));
        } catch (const std::exception& e) {
            if (failed)
                failed(e.what());
        }
    });
    m_wake.notify_all();
}

void AlarmQueueWorker::ClaimEscalations(const std::string& receiver, std::chrono::seconds after,
                                        std::function<void(std::vector<CentreAlarm>)> done)
{
    Enqueue(
        [this, receiver, after, done](AlarmQueue& queue) {
            std::vector<CentreAlarm> claimed = queue.ClaimEscalations(receiver, after);
            m_post([done, claimed = std::move(claimed)] { done(claimed); });
        },
        [this, done](const std::string&) { m_post([done] { done({}); }); });
}

void AlarmQueueWorker::Run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                break;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
    m_db.Disconnect();
}

void AlarmQueueWorker::Take(long long id, const std::string& op, TakeDone done)
{
    Enqueue(
        [this, id, op, done](AlarmQueue& queue) {
            const TakeResult r = queue.Take(id, op);
            m_post([done, r] { done(r.taken, r.holder, {}); });
        },
        [this, done](const std::string& error) { m_post([done, error] { done(false, {}, error); }); });
}

void AlarmQueueWorker::Renew(long long id, const std::string& op)
{
    // Not renewed: the lease runs out and the alarm goes back to the queue.
    Enqueue([id, op](AlarmQueue& queue) { queue.Renew(id, op); }, nullptr);
}

void AlarmQueueWorker::Release(long long id, const std::string& op)
{
    Enqueue([id, op](AlarmQueue& queue) { queue.Release(id, op); }, nullptr);
}

void AlarmQueueWorker::Close(long long id, const std::string& op, const std::string& result,
                             const std::string& comment, const std::string& handledEvent, CloseDone done)
{
    Enqueue(
        [this, id, op, result, comment, handledEvent, done](AlarmQueue& queue) {
            ClosedRow row;
            const bool closed = queue.Close(id, op, result, comment, handledEvent, &row);
            m_post([done, closed, row] { done(closed, {}, row); });
        },
        [this, done](const std::string& error) { m_post([done, error] { done(false, error, {}); }); });
}

} // namespace kv::centre
