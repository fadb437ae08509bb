#pragma once

// Shows the busy cursor over the program's windows while the GUI thread works without
// returning to the event loop (a large document being decrypted and laid out), from the
// moment it is made until end() or its destruction. The cursor reaches the screen before the
// work starts.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor() { end(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    // Back to the normal cursor now, before a message box, say.
    void end();

private:
    bool shown = true;
};
