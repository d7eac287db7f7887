#include "cli/RequestSource.h"

#include <cstdio>

std::optional<RequestSource> RequestSource::read(const QString &sourceText, const QString &proxyOption)
{
    const SourceArgument source = SourceArgument::parse(sourceText);
    if (!source.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(source.error()));
        return std::nullopt;
    }
    const ProxyArgument proxy = ProxyArgument::choose(proxyOption, source.serverAddress());
    if (!proxy.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(proxy.error()));
        return std::nullopt;
    }
    return RequestSource{source, proxy};
}
