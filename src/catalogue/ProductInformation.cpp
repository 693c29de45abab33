#include "catalogue/ProductInformation.h"

namespace cm {

namespace {

using enum TFieldCoding;
using P = TProductInformationPacket;

constexpr TFieldDef ProductInformationFields[] = {
    Field<Fixed, &P::TavrelProductMode>("TavrelProductMode"),
    Field<Fixed, &P::ExecutionMode>("ExecutionMode"),
    Field<Fixed, &P::SetupExecutionMode>("SetupExecutionMode"),
    Field<String, &P::ProductCaption>("ProductCaption", 0, ProductName),
    Field<Guid, &P::GridServiceID>("GridServiceID"),
    Field<Guid, &P::CoordinatorServiceID>("CoordinatorServiceID"),
    Field<Int32, &P::DefaultPortCoordinatorService>("DefaultPortCoordinatorService"),
    Field<Int32, &P::DefaultPortAgentService>("DefaultPortAgentService"),
    Field<Int32, &P::DefaultPortAgentHelper>("DefaultPortAgentHelper"),
    Field<Boolean, &P::VsAddIn>("VsAddIn", 1),
    Field<Boolean, &P::VisualStudioBuilds>("VisualStudioBuilds", 1),
    Field<Boolean, &P::VisualStudioAddIn>("VisualStudioAddIn", 1),
    Field<String, &P::SetupHelpHtml>("SetupHelpHtml"),
    Field<String, &P::ChmHelpFile>("ChmHelpFile"),
};

}  // namespace

const TPacketClass TProductInformationPacket::Class{
    "TProductInformationPacket", {0x250B5A66, 0x4EF1, 0x432A, {0x99, 0x49, 0x3C, 0xB9, 0x4F, 0x9F, 0x5A, 0xA1}},
    &TPacket::Class, ProductInformationFields, static_cast<int32_t>(std::size(ProductInformationFields)),
    &TProductInformationPacket::CreateInstance};

void InitializeProductInformation() {
    RegisterPacketClass(TProductInformationPacket::Class);
}

}  // namespace cm
