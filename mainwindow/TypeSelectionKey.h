#pragma once

// The key typed after the selection by one run of Type Selection.
enum TypeSelectionKey
{
    NoKey = 0,
    TabKey = 1,
    EnterKey = 2,
};
