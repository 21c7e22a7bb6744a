#pragma once

// Carries log lines from any thread to the log list on the GUI thread, in the order they were
// posted. Lines are handed over in slices of a few milliseconds, so a run that logs faster than
// the list can take them never holds up a frame.

#include <QObject>
#include <QStringList>

#include <deque>
#include <mutex>

class LogModel;

class LogPump : public QObject {
    Q_OBJECT

  public:
    explicit LogPump(LogModel* model, QObject* parent = nullptr);

    /// Any thread. The line is already stamped.
    void post(const QString& stampedLine);
    /// GUI thread: hands every waiting line to the list now (for tests and before a clear).
    void flush();
    /// GUI thread: drops the lines not yet shown (the list is being cleared).
    void discard();

    /// Longest time one slice of lines may take on the GUI thread.
    static constexpr int kSliceMs = 8;

  private:
    void drain(bool all);
    LogModel* m_model;
    std::mutex m_mutex;
    std::deque<QString> m_waiting;
    bool m_scheduled = false;
};
