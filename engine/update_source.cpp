#include "engine/update_source.h"

#include "platform/text.h"
#include "transfer/url_text.h"

namespace {

enum class TSource { Tls, Local, Other };

TSource SourceOf(const std::string& aAddress)
{
    const std::string address = TrimControl(aAddress);
    if (address.empty())
        return TSource::Other;
    if (!HasScheme(address) || StartsWithNoCase(address, "file://"))
        return TSource::Local;
    return StartsWithNoCase(address, "https://") ? TSource::Tls : TSource::Other;
}

}  // namespace

bool UnsignedUpdateAllowed(const std::string& aInfoAddress, const std::string& aWizardAddress)
{
    const TSource info = SourceOf(aInfoAddress);
    const TSource wizard = SourceOf(aWizardAddress);
    if (info == TSource::Other || wizard == TSource::Other)
        return false;
    return wizard == TSource::Tls || info == TSource::Local;
}
