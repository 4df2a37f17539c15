#pragma once

#include "SimServer.h"
#include "Timeline.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vibrelle::sim {

struct SimOptions {
    SimConfig config;
    Timeline::Format format = Timeline::Format::Text;
    bool help = false;
    bool version = false;
    bool view = false;     // open the window
    bool audio = false;    // play through the desktop's sound output
    QString audioFile;     // render the sound into this WAV file
};

// Parses the command line (without the program name). On a bad argument returns none and sets
// *error to a one-line explanation.
std::optional<SimOptions> parseOptions(const QStringList &arguments, QString *error);

// The --help text: options, API, timeline, statistics and fault injection.
QString helpText();

} // namespace vibrelle::sim
