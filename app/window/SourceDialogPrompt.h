#pragma once

#include "app/SourceChoice.h"

#include <optional>

class QWidget;

// Runs the source dialog preset from the window's source fields.
class SourceDialogPrompt
{
public:
    // The choice made on OK; nothing when the dialog was closed otherwise.
    static std::optional<ChosenSource> ask(QWidget *parent, const SourceState &state);
};
