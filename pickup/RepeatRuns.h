#pragma once

class Outbox;
class PageLog;

// Repeats of an alert collapsed: while a window is set, an alert identical
// to one taken within it is counted in the outbox instead of sent, and when
// the window closes those who got the first are told how often it came.
// Runs, counts and the alert that tells them all live in the outbox, so a
// restart neither loses a count nor tells one twice.
class RepeatRuns
{
public:
    RepeatRuns(Outbox &outbox, PageLog &pageLog);

    // The window from Config.mdb; off without one.
    void load();
    void setWindowMinutes(int minutes);
    int windowMinutes() const { return m_minutes; }
    // Closes the runs whose window has ended: their count goes to the
    // outbox as an alert to send, and one page log line says each run.
    void closeDue();

private:
    Outbox &m_outbox;
    PageLog &m_pageLog;
    int m_minutes = 0;
};
