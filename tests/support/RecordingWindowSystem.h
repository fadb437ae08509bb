#pragma once

#include "platform/WindowSystem.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QWidget>

// The down/up record pair of each UTF-16 code unit of `text`, as Type Selection makes them.
inline QVector<WindowSystem::KeyRecord> keyRecords(const QString& text)
{
    QVector<WindowSystem::KeyRecord> list;
    for (const QChar unit : text) {
        WindowSystem::KeyRecord record;
        record.unit = unit.unicode();
        list << record;
        record.keyUp = true;
        list << record;
    }
    return list;
}

// The pair of a named key (TAB, ENTER).
inline QVector<WindowSystem::KeyRecord> keyRecords(WindowSystem::KeyRecord::Key key)
{
    WindowSystem::KeyRecord record;
    record.key = key;
    QVector<WindowSystem::KeyRecord> list{record};
    record.keyUp = true;
    return list << record;
}

// What a RecordingWindowSystem saw and does; it stays with the test, since the window owns
// the layer.
struct Recording
{
    QStringList calls;
    QVector<WindowSystem::KeyRecord> records;
    QHash<WindowSystem::Window, WindowSystem::Window> below;
    QHash<WindowSystem::Window, WindowSystem::Window> parents;
    QSet<WindowSystem::Window> visible;
    int delivered = -1;            // what sendInput reports; -1: every record
    QWidget* takesFocus = nullptr; // activated when the layer focuses a window
    quintptr extraInfo = 100;
};

// A window-system layer that records every call, over a stacking order the test sets up, for
// the logic of Type Selection without a display (header only: its users link the platform).
class RecordingWindowSystem final : public WindowSystem
{
public:
    explicit RecordingWindowSystem(Recording* log) : recording(log) {}

    Window nextWindow(Window window) override
    {
        recording->calls << QStringLiteral("next %1").arg(window);
        return recording->below.value(window);
    }
    Window parentWindow(Window window) override
    {
        recording->calls << QStringLiteral("parent %1").arg(window);
        return recording->parents.value(window);
    }
    bool isWindowVisible(Window window) override
    {
        recording->calls << QStringLiteral("visible %1").arg(window);
        return recording->visible.contains(window);
    }
    void showWindow(Window window) override
    {
        recording->calls << QStringLiteral("show %1").arg(window);
    }
    bool setForegroundWindow(Window window) override
    {
        recording->calls << QStringLiteral("foreground %1").arg(window);
        if (recording->takesFocus != nullptr)
            recording->takesFocus->activateWindow();
        return true;
    }
    void sleep(int milliseconds) override
    {
        recording->calls << QStringLiteral("sleep %1").arg(milliseconds);
    }
    quintptr messageExtraInfo() override { return recording->extraInfo++; }
    int sendInput(const QVector<KeyRecord>& records) override
    {
        recording->calls << QStringLiteral("send %1").arg(records.size());
        recording->records = records;
        return recording->delivered < 0 ? records.size() : recording->delivered;
    }
    void restoreKeyboard() override { recording->calls << QStringLiteral("restore keyboard"); }
    bool activateOwnWindow(Window window) override
    {
        recording->calls << QStringLiteral("activate own %1").arg(window);
        return false; // as on X11: the toolkit brings the window back
    }

private:
    Recording* recording;
};
