#include "state.h"

#include <cstring>

#include "driver.h"
#include "roll.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

// A text of a printer or the system a client may set.
template <typename Owner>
struct Text {
    char* (*get)(Owner*, char*, std::size_t);
    void (*set)(Owner*, const char*);
};

constexpr Text<pappl_printer_t> kPrinterTexts[] = {
    {papplPrinterGetLocation, papplPrinterSetLocation},
    {papplPrinterGetGeoLocation, papplPrinterSetGeoLocation},
    {papplPrinterGetOrganization, papplPrinterSetOrganization},
    {papplPrinterGetOrganizationalUnit, papplPrinterSetOrganizationalUnit},
    {papplPrinterGetDNSSDName, papplPrinterSetDNSSDName}};

constexpr Text<pappl_system_t> kSystemTexts[] = {
    {papplSystemGetLocation, papplSystemSetLocation},
    {papplSystemGetGeoLocation, papplSystemSetGeoLocation},
    {papplSystemGetOrganization, papplSystemSetOrganization},
    {papplSystemGetOrganizationalUnit, papplSystemSetOrganizationalUnit},
    {papplSystemGetDNSSDName, papplSystemSetDNSSDName}};

template <typename Owner, std::size_t N>
void KeepTexts(Owner* owner, const Text<Owner> (&texts)[N]) {
    for (const Text<Owner>& t : texts) {
        char text[1024] = "";
        if (t.get(owner, text, sizeof text) != nullptr && !IsPrintable(text))
            t.set(owner, Printable(text).c_str());
    }
}

bool KeepContact(pappl_contact_t* contact) {
    bool changed = false;
    for (char* text : {contact->name, contact->email, contact->telephone})
        if (!IsPrintable(text)) {
            const std::string printable = Printable(text);
            std::memcpy(text, printable.c_str(), printable.size() + 1);
            changed = true;
        }
    return changed;
}

// Vendor defaults the printer does not offer (a state file of an older
// version kept whatever a client set) become the printer's own again.
void KeepVendorDefaults(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    int count = 0;
    cups_option_t* fixed = nullptr;
    for (int i = 0; i < data.num_vendor; ++i) {
        const std::string name = std::string(data.vendor[i]) + "-default";
        char value[1024] = "";
        ippAttributeString(ippFindAttribute(attributes, name.c_str(), IPP_TAG_ZERO), value,
                           sizeof value);
        if (!VendorValueOffered(printer, data.vendor[i], value)) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "%s \"%s\" is not offered; reset.",
                            name.c_str(), Printable(value).c_str());
            count = cupsAddOption(data.vendor[i], FactoryVendorDefault(data.vendor[i]).c_str(),
                                  count, &fixed);
        }
    }
    ippDelete(attributes);
    if (count > 0) papplPrinterSetDriverDefaults(printer, &data, count, fixed);
    cupsFreeOptions(count, fixed);
}

void KeepPrinterSafe(pappl_printer_t* printer, void*) {
    KeepTexts(printer, kPrinterTexts);
    pappl_contact_t contact{};
    if (papplPrinterGetContact(printer, &contact) != nullptr && KeepContact(&contact))
        papplPrinterSetContact(printer, &contact);
    KeepVendorDefaults(printer);
}

bool Save(pappl_system_t* system, void* path) {
    KeepStateSafe(system);
    return papplSystemSaveState(system, static_cast<const char*>(path));
}

}  // namespace

void KeepStateSafe(pappl_system_t* system) {
    KeepTexts(system, kSystemTexts);
    pappl_contact_t contact{};
    if (papplSystemGetContact(system, &contact) != nullptr && KeepContact(&contact))
        papplSystemSetContact(system, &contact);
    papplSystemIteratePrinters(system, KeepPrinterSafe, nullptr);
}

void LoadState(pappl_system_t* system, const std::string& path) {
    static std::string file;  // outlives the system
    file = path;
    papplSystemLoadState(system, file.c_str());
    KeepStateSafe(system);
    papplSystemIteratePrinters(
        system, [](pappl_printer_t* printer, void*) { ShowRollSupply(printer); }, nullptr);
    papplSystemSetSaveCallback(system, Save, const_cast<char*>(file.c_str()));
}

}  // namespace varnu::printer_app
