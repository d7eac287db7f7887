#pragma once

#include "cli/ProxyArgument.h"
#include "cli/SourceArgument.h"

#include <optional>

// Where a command's requests go and the proxy they take, read from the
// command line in one place for every command that sends requests. A value
// that cannot be used is told in one line on stderr.
class RequestSource
{
public:
    static std::optional<RequestSource> read(const QString &sourceText, const QString &proxyOption);

    SourceArgument source;
    ProxyArgument proxy;
};
