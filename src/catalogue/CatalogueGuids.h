// The ClassGuid of every class of the protocol packet catalogue, in declaration order. Each is fixed
// for good: a reader finds a class by it. Those marked "given" are the product's own identifiers;
// the others were chosen once for this catalogue. tests/catalogue/golden/catalogue.txt holds them
// too, so that none can change by accident.
#pragma once

#include "catalogue/CatalogueFields.h"

namespace cm::catalogue_guids {

// RemoteExceptionPackets
inline constexpr TGuid TCommExceptionPacket = GuidFromText("{1B1EF656-5A18-4266-BE5F-96BAE37F1D6F}");

// AgentPackets
inline constexpr TGuid TNetworkConnectionInfoPacket = GuidFromText("{9C0102C0-C982-4621-B3F6-8F89DFEEF6D9}");
inline constexpr TGuid TBenchmarkPacket = GuidFromText("{0B218892-48B5-4E2B-B64B-631E9D5F2CE7}");
inline constexpr TGuid TSchedulerPacket = GuidFromText("{FADD13D0-82A8-4EF6-85E5-D15C994FDD74}");
inline constexpr TGuid TStaticPacket = GuidFromText("{E4D3D4B5-D127-438D-A18F-1C7EEF8CA909}");
inline constexpr TGuid TPreferredHelperPacket = GuidFromText("{59D9B984-F2B4-40E4-AC10-6E2267D719A0}");
inline constexpr TGuid TVersionUpdatePacket = GuidFromText("{D71E9926-2CA3-4B02-9D4E-D7EF7CF43E68}");
inline constexpr TGuid TSubscriptionPacket = GuidFromText("{612B2CE5-0074-439B-B733-19B2BA70D785}");
inline constexpr TGuid THelperPacket = GuidFromText("{FFFEDFC3-D8DF-43FB-8C1D-A18A453A724F}");
inline constexpr TGuid TKnownCoordPacket = GuidFromText("{D961F90A-F6FE-41D1-8847-839C1E7C5D73}");
inline constexpr TGuid TDynamicPacket = GuidFromText("{C16EC50C-1235-4478-8695-611AD10FCE77}");
inline constexpr TGuid TReportAgentPacket = GuidFromText("{9BD64049-1FEF-472A-9E1B-A24CB009A09B}");
inline constexpr TGuid TReportAgentReplyPacket = GuidFromText("{BD800607-64E4-4605-A831-1DADA297F546}");
inline constexpr TGuid TAgentExportXml = GuidFromText("{72F3A3B5-B461-4B3C-BA73-F775F4F65FB6}");
inline constexpr TGuid TCoordExportXml = GuidFromText("{49E87092-6938-4B5C-A371-64C820563A7B}");

// PdbForwarderPackets
inline constexpr TGuid TPdbForwarderFileContextPacket = GuidFromText("{8B804475-07D8-4237-872D-204A0E2F69EF}");
inline constexpr TGuid TPdbForwarderContextPacket = GuidFromText("{2B9F355A-7183-479B-8ADF-915B69DEC1D4}");
inline constexpr TGuid TPdbQuerySymbolPacket = GuidFromText("{28037608-B06B-41ED-9240-730CB5156A82}");
inline constexpr TGuid TPdbOpenInputFilePacket = GuidFromText("{ABF5F6E8-C181-404E-9D39-BFA783DD1DE1}");
inline constexpr TGuid TPdbSelectInputFilePacket = GuidFromText("{3ADE52DC-F6F4-4106-AD9A-9F1684FFE8EC}");
inline constexpr TGuid TPdbBeginInputHeaderPacket = GuidFromText("{543B270D-F9CC-42C4-8F9E-2A8566B3E6DF}");
inline constexpr TGuid TPdbWritePchInfoPacket = GuidFromText("{5F542720-5BFA-43C8-B599-F720A9F9DFCD}");
inline constexpr TGuid TPdbIntroPchPacket = GuidFromText("{60C67638-1F46-4B9F-B005-4088738ED9EC}");
inline constexpr TGuid TPdbCloseInputFilePacket = GuidFromText("{19DE32D1-4C28-40FD-B2C0-C1E8577F5BBC}");
inline constexpr TGuid TPdbInputFileActionAPacket = GuidFromText("{CF49A019-5C54-48F4-B892-617148FD39A2}");

// VEPackets
inline constexpr TGuid TVEContextPacket = GuidFromText("{3BB5D174-3048-46BA-AEA8-D177D81FE8A8}");
inline constexpr TGuid TVEReservePacket = GuidFromText("{5C1D7037-CE1E-4E20-A8F7-A6EE1548AA6A}");
inline constexpr TGuid TVEPatchPacket = GuidFromText("{0AA67291-0B33-4DF0-8544-47413739F09B}");
inline constexpr TGuid TVEPatchFilePacket = GuidFromText("{18DE681F-DA2B-48C5-8A92-0A275B4CEE14}");
inline constexpr TGuid TVESessionPacket = GuidFromText("{BABDD1D1-229F-42ED-A7DA-0216767102BE}");
inline constexpr TGuid TVEHandlePacket = GuidFromText("{ED6EE60A-FB06-465B-9B6A-F754B742EA31}");
inline constexpr TGuid TVEProcessPacket = GuidFromText("{3BB5ABBD-BB7E-4342-BBB6-890D3C1768CC}");
inline constexpr TGuid TVEPreloadPacket = GuidFromText("{87240F8E-C1C9-4280-ADFC-79A0C140C1BB}");
inline constexpr TGuid TVEFileCachePacket = GuidFromText("{C49225AB-26BD-4E6F-9DB9-C63377E1F86F}");
inline constexpr TGuid TVEFileInfoPacket = GuidFromText("{B3731491-B478-4247-88EE-466A083A7EDF}");
inline constexpr TGuid TVEDirInfoPacket = GuidFromText("{DCC641D9-05DF-4CFF-9465-A1FD39AE9AE4}");

// BuildCommandPackets
inline constexpr TGuid TBuildCommandProjectPacket = GuidFromText("{AA0339F5-EB9C-4BF9-942B-5B363E4B23EA}");
inline constexpr TGuid TBuildCommandPacket = GuidFromText("{02CDD11F-240B-4E5F-8B5B-7AFA059EEBE1}");
inline constexpr TGuid TMetaBuildAttachmentPacket = GuidFromText("{0B917283-4A10-428A-96E6-18E99C7D6589}");
inline constexpr TGuid TMetaBuildPacket = GuidFromText("{6ABE900D-0CAA-4CEE-A314-BE6375A3EC11}");
inline constexpr TGuid TMetaBuildCachePacket = GuidFromText("{66F291A5-C13B-4857-BC0A-ED2D3FC68229}");

// RemoteExecutionPackets
inline constexpr TGuid TExecuteSearchReplacePacket = GuidFromText("{7BF7A021-CA26-4A87-8D7D-28F334B632AC}");
inline constexpr TGuid TExecuteSearchReplaceFilePacket = GuidFromText("{14A7D094-0254-4B8C-8E04-A6943BD1338A}");
inline constexpr TGuid TExecuteIncrementalFilePacket = GuidFromText("{FF3DE482-C911-43E5-ACA5-06D90A9BF435}");
inline constexpr TGuid TExecuteDirContentPacket = GuidFromText("{A03CCB6F-82B1-4FC3-9DCD-73DC04F2FD60}");
inline constexpr TGuid TExecuteCommonDirPacket = GuidFromText("{D571F0D0-DBFA-496B-98D8-750C650A5FC1}");
inline constexpr TGuid TExecuteOutputFilePacket = GuidFromText("{D6274F19-9056-4488-92C4-E47B217E6233}");
inline constexpr TGuid TExecuteResultPacket = GuidFromText("{73DC9C55-1559-4B0D-B10E-4CA9515C47A0}");
inline constexpr TGuid TParentProcessIDPacket = GuidFromText("{88F0A81C-0118-4A3A-86C1-94DEA5DD9A9C}");

// BuildJobPackets
inline constexpr TGuid TBuildStatusPacket = GuidFromText("{E2389C89-54BA-49E7-BAA0-D17060D3633C}");
inline constexpr TGuid TAttachToBuildPacket = GuidFromText("{2BBC9DC0-4912-4B79-A678-C2CC89E3708D}");
inline constexpr TGuid TStopJobPacket = GuidFromText("{1208097C-9321-46F5-9E3F-44B457A9DDE0}");
inline constexpr TGuid TQueryJobStatusPacket = GuidFromText("{791447F0-E982-4015-829D-EA8C3C6449EB}");
inline constexpr TGuid TQueryJobStatusReplyPacket = GuidFromText("{063EFDAE-65C7-48A0-8463-FEA6F3F37D54}");
inline constexpr TGuid TReportJobPacket = GuidFromText("{055ADD9D-2859-47EE-8BF1-AE554BE4C061}");
inline constexpr TGuid TReportJobReplyPacket = GuidFromText("{11F46B03-7754-4FCF-A38D-C88A5B41D184}");
inline constexpr TGuid TEmployHelpersPacket = GuidFromText("{26377250-C911-4F13-966D-DB965EC53575}");
inline constexpr TGuid TReportHelperPacket = GuidFromText("{29ED1A89-05C2-4059-BBB3-CEF2FD8703B9}");
inline constexpr TGuid TDisableHelperPacket = GuidFromText("{B91AEBF7-6335-4018-BFCE-36438E5523F7}");

// JobHistoryPackets
inline constexpr TGuid TAddJobToHistoryPacket = GuidFromText("{322A4F6F-811B-4C4E-A153-D75488264FD2}");
inline constexpr TGuid TQueryJobHistoryPacket = GuidFromText("{37B7A934-927F-459E-BE22-621659A26B26}");
inline constexpr TGuid TJobHistoryEntryPacket = GuidFromText("{BEE0203E-298C-40B1-B1C0-11F86B926C12}");
inline constexpr TGuid TQueryJobHistoryReplyPacket = GuidFromText("{8E4D39DE-8E1A-420D-98C3-E572DA2C3CBC}");
inline constexpr TGuid TClearJobHistoryPacket = GuidFromText("{E8F9602A-1A10-4509-9040-3083E798DA1B}");
inline constexpr TGuid TCollectTimeStatPacket = GuidFromText("{CC67FDA2-0B48-43CD-99D1-D41E172A8D64}");
inline constexpr TGuid TCollectTimeStatReplyPacket = GuidFromText("{5544E3C7-4FBA-43D3-BE7A-2C1FC5D7E474}");

// AgentServicePackets
inline constexpr TGuid TEnableAgentPacket = GuidFromText("{50DCDB17-9315-4760-81C7-0B49C080307B}");
inline constexpr TGuid TChangeVersionUpdateStatusPacket = GuidFromText("{A438BFC5-F188-4882-A901-55132816BFB4}");
inline constexpr TGuid TSetForcePortPacket = GuidFromText("{6377F48F-CF09-4123-97E4-582E2EBFB2AF}");
inline constexpr TGuid TRequestVersionUpdatePacket = GuidFromText("{5C0A8736-F086-400E-A977-FDB171EBCF73}");
inline constexpr TGuid TRegisterMonitorPacket = GuidFromText("{8193D1B2-48CC-4652-B956-71273828DE3F}");
inline constexpr TGuid TOpenFirewallPacket = GuidFromText("{16C29F36-F837-44C0-8DE1-37233EDF154A}");
inline constexpr TGuid TOpenFirewallReplyPacket = GuidFromText("{494A2BA7-F1CF-4747-BB83-C410653D32FC}");
inline constexpr TGuid TShowMessageBoxPacket = GuidFromText("{7F8FB49E-B38E-43AD-8FC5-FA6E621259D1}");
inline constexpr TGuid TRunVersionUpdatePacket = GuidFromText("{51E36B0C-DCCD-4466-A2C8-AEEF4E2B5342}");
inline constexpr TGuid TReadHelperLogPacket = GuidFromText("{344CFD04-1A8E-4100-B2C0-32865D90DBAB}");
inline constexpr TGuid TReadHelperLogReplyPacket = GuidFromText("{DEFA344F-26F3-473E-A6EC-8B6AAC873416}");
inline constexpr TGuid TReadExceptionLogsPacket = GuidFromText("{6043DFEF-75A4-44AC-924C-3AF6629FDF1C}");
inline constexpr TGuid TExceptionLogPacket = GuidFromText("{ED5DAA84-E072-46AD-ACAE-6DAAE4502755}");  // given
inline constexpr TGuid TReadExceptionLogsReplyPacket = GuidFromText("{34054AE2-2EE8-4D91-BDB9-BB8B53C46F1D}");  // given
inline constexpr TGuid TLookupAgentIPPacket = GuidFromText("{D3AF40C4-95BD-4477-B444-90DB88B89822}");
inline constexpr TGuid TLookupAgentIPReplyPacket = GuidFromText("{86A42C75-575D-4B5A-B032-5D3496ED7B65}");
inline constexpr TGuid TClearFileCachePacket = GuidFromText("{510AC5B7-5B6E-425A-990E-4C416E4E6068}");
inline constexpr TGuid TVerifyServiceVersionPacket = GuidFromText("{7EA0AC66-D3BE-4437-AAD9-2AC30AA91ED4}");
inline constexpr TGuid TQueryServiceStatusPacket = GuidFromText("{8333D6EB-0C91-4944-B294-E5A00081C55D}");
inline constexpr TGuid TQueryServiceStatusReplyPacket = GuidFromText("{8E1A98C0-2A60-43AC-B7D6-BA586CC4A049}");
inline constexpr TGuid TStartFileMonitorDriverPacket = GuidFromText("{EAF99F6E-5689-4B5F-A698-5421998DFC07}");
inline constexpr TGuid TTestNetworkPacket = GuidFromText("{3FC288CA-88AD-4A31-ACBA-812531526B15}");  // given

// GraphPackets
inline constexpr TGuid TGraphDefPacket = GuidFromText("{7818CC3F-04D2-4DA8-A00D-4BD7916AD414}");  // given
inline constexpr TGuid TGraphSetDefPacket = GuidFromText("{E68C5AEA-A1A2-4C6F-A041-81C4C9C45F11}");
inline constexpr TGuid TGraphSamplePacket = GuidFromText("{C8AAE035-9AD6-4BBA-9ED9-DE5B6C0F56FF}");

// MonitorEventPackets
inline constexpr TGuid TMonitorEventStartedPacket = GuidFromText("{6CEC3CD1-405C-4571-A1E7-6198C47BA740}");
inline constexpr TGuid TMonitorEventCompletePacket = GuidFromText("{8A77C066-2D1A-4D8C-8096-36E977ACD77C}");
inline constexpr TGuid TMonitorEventCountPacket = GuidFromText("{3E5F331D-3FEC-4C82-8256-58F9BFDCBFE5}");
inline constexpr TGuid TMonitorEventProjectCountPacket = GuidFromText("{BD05ABC1-8EED-4F06-8B2C-3DACFA9CDBB7}");
inline constexpr TGuid TMonitorEventMessagePacket = GuidFromText("{20435A02-EA73-4DE0-9EE8-E2756748B5C2}");
inline constexpr TGuid TMonitorEventOutputPacket = GuidFromText("{DD26078D-9281-4BAB-97DF-0DC2AC7CABA3}");
inline constexpr TGuid TMonitorEventProjectOutputPacket = GuidFromText("{BD9DBC72-FA45-4C8D-8AD6-E0B83E3FC87B}");
inline constexpr TGuid TMonitorEventProjectCompletePacket = GuidFromText("{6FD16480-5033-4CA8-8D62-81BAC69F31F3}");
inline constexpr TGuid TMonitorEventProjectPacket = GuidFromText("{9826A2F6-C7DC-48E6-B4E6-8C1EA0F97AB5}");
inline constexpr TGuid TMonitorEventProjectListPacket = GuidFromText("{A061EF0D-84A9-4134-955E-B7C1F10A76EB}");
inline constexpr TGuid TMonitorEventEmployPacket = GuidFromText("{E7490F2D-C65C-48E4-9EC0-61AF8AA7DAD9}");
inline constexpr TGuid TMonitorEventUnemployPacket = GuidFromText("{368E4345-8507-4A74-973F-D8ED3957EB50}");
inline constexpr TGuid TMonitorEventBeginStepPacket = GuidFromText("{BFF1AF64-32B5-47E3-B0D0-5B0DD80CCC6D}");
inline constexpr TGuid TMonitorEventEndStepPacket = GuidFromText("{A6C1EBE1-E191-4FBA-A2E7-4C8B6A7CDCEE}");
inline constexpr TGuid TMonitorEventStepFailedPacket = GuidFromText("{7530D640-D7AE-476B-838B-CC7FC7D04C64}");
inline constexpr TGuid TMonitorEventModifyBarHintPacket = GuidFromText("{BF226805-0EAB-44CF-B771-FE19BA7AD3B3}");
inline constexpr TGuid TMonitorEventBeginBarPacket = GuidFromText("{EE04DCE2-4E33-4508-A9C5-FF422D32E33E}");
inline constexpr TGuid TMonitorEventEndBarPacket = GuidFromText("{3737C9E4-CE36-49DD-8042-596364339BAD}");
inline constexpr TGuid TMonitorEventAddGraphRowPacket = GuidFromText("{8094C32D-8F99-4B8F-AE3C-0EDD86CDE970}");
inline constexpr TGuid TMonitorEventAddGraphSetPacket = GuidFromText("{C9A2DEF3-BE29-4440-A2C6-6F923BE6E3A0}");
inline constexpr TGuid TMonitorEventAddGraphSamplePacket = GuidFromText("{BF35B67E-C48C-469E-ACF5-62BCDCDDAC23}");
inline constexpr TGuid TMonitorEventCloseBrowseDBPacket = GuidFromText("{B04F7615-BBCD-4996-B37A-E0232001D91C}");

// WrapperStatusPackets
inline constexpr TGuid TWrapperStatusItemPacket = GuidFromText("{0EE73BDA-C1E2-4C72-8F60-03DED2B84AE2}");
inline constexpr TGuid TWrapperStatusPacket = GuidFromText("{18987E18-9EE5-4489-BE38-A2B75318622F}");

// CoordinatorPackets
inline constexpr TGuid TCommRarSupportPacket = GuidFromText("{A8DC27C8-307A-4757-9DFA-CCEBFAAA0FDB}");
inline constexpr TGuid TCoordQueryAgentsPacket = GuidFromText("{9B536ADF-AEE0-4314-B358-BC644FEFAF82}");
inline constexpr TGuid TCoordQueryAgentsReplyPacket = GuidFromText("{82E84EC9-0566-40FA-80C5-23ABC1D68FE7}");
inline constexpr TGuid TQueryRolePacket = GuidFromText("{E4A18C37-778B-4A95-9FB3-659C2297E93A}");
inline constexpr TGuid TQueryRoleReplyPacket = GuidFromText("{E2B4EFDD-3A75-4C78-A64B-25185EF654B7}");
inline constexpr TGuid TForwardToAgentPacket = GuidFromText("{5211E85F-CCB5-4122-835E-AA51491518AA}");
inline constexpr TGuid TRefreshPacket = GuidFromText("{8564EE20-E12B-483C-B5B1-8EF3035EECF1}");
inline constexpr TGuid TRequestQueryStatePacket = GuidFromText("{3AE086F4-4961-47EA-BEDD-5A71BC144AC8}");
inline constexpr TGuid TQueryStatePacket = GuidFromText("{E1E923D8-552E-4870-A069-FBFA30B6DB4E}");
inline constexpr TGuid TSubscribeAgentPacket = GuidFromText("{8DF481CD-06E5-40DC-B3EE-DFF3764FFCEC}");
inline constexpr TGuid TResetAutoSubscribePacket = GuidFromText("{E2B6F59B-D96C-47AF-9812-9B76D6DF557A}");
inline constexpr TGuid TCoordGeneralReplyPacket = GuidFromText("{675D2503-0DCC-484E-9EB4-5AD9BB9FD0E8}");
inline constexpr TGuid TTerminatePacket = GuidFromText("{3DC11BD7-CB21-42C4-9A9B-7F7FC5D064D4}");
inline constexpr TGuid TUpdateVersionAgentPacket = GuidFromText("{FA127F56-17F3-41D9-918B-AF840DD7B946}");
inline constexpr TGuid TUpdateVersionAgentReplyPacket = GuidFromText("{DB5B2B58-3BB3-4C87-9492-AF36D102A857}");
inline constexpr TGuid TResetAgentPacket = GuidFromText("{280F3F5B-AF1B-4BF3-9415-2058D347E913}");
inline constexpr TGuid TSetAgentPriorityPacket = GuidFromText("{472DEF29-2073-4719-B65D-D0ECFF2810FA}");
inline constexpr TGuid TSetAgentCommentPacket = GuidFromText("{3C29AC0D-CD35-4524-A35D-279341044D55}");
inline constexpr TGuid TSetAgentLoggingLevelPacket = GuidFromText("{7950B557-DBDA-4152-B946-63B7DB1C8742}");
inline constexpr TGuid TAllocateUpdateIDPacket = GuidFromText("{408B7249-D40B-4E7A-8A8E-27C132E01FB4}");
inline constexpr TGuid TAllocateUpdateIDReplyPacket = GuidFromText("{03356CF9-A8FA-448C-909E-1E7DE734097A}");
inline constexpr TGuid TOpenFirewallAgentPacket = GuidFromText("{FE6F92B7-9465-42A3-A2EC-EC3182816447}");
inline constexpr TGuid TRetestConnectionAgentPacket = GuidFromText("{3717C3CF-2AE7-4265-B358-344DC8E3A37C}");
inline constexpr TGuid TSetAgentAllowDisablePacket = GuidFromText("{D881DF4F-DF30-434F-9824-A305BC3D8C55}");
inline constexpr TGuid TSetAgentAllowRemoteAdminPacket = GuidFromText("{B53DFECC-9766-4CBF-B1B7-57A3F6D0C89F}");
inline constexpr TGuid TClearResizeRecommendAgentPacket = GuidFromText("{E5A139C2-D8AF-465F-9672-8B092DAC122E}");
inline constexpr TGuid TResizeFileCacheAgentPacket = GuidFromText("{D912D5F2-2F89-497D-B0F9-7B96858B40A9}");
inline constexpr TGuid TSetAgentRemoteCompilerPriorityPacket = GuidFromText("{D51848B0-BF76-47B2-8E30-E66A9342010B}");
inline constexpr TGuid TSetBuildGroupAgentPacket = GuidFromText("{2396D5BB-FFC1-44C6-AAFE-ED3DE20BE4F3}");
inline constexpr TGuid TSetAgentAssignPriorityPacket = GuidFromText("{200F45C3-6E27-437E-9D48-52933C4D334C}");
inline constexpr TGuid TCancelUpdateVersionAgentPacket = GuidFromText("{2B1FA255-E976-4455-B816-C1F10C386F2E}");
inline constexpr TGuid TCancelUpdateVersionAgentReplyPacket = GuidFromText("{5A013CCA-D5B1-432B-A281-928AFDE15480}");
inline constexpr TGuid TConfigureMultiBootPacket = GuidFromText("{DB16ADCC-132C-435C-80F1-1AACCFF61D57}");
inline constexpr TGuid TAgentWakeOnLANPacket = GuidFromText("{AF1D86DD-0D33-4F54-AABF-2030DB58A3D4}");
inline constexpr TGuid TAgentWakeOnLANReplyPacket = GuidFromText("{51744D71-B215-406A-8CCC-4D25475F61CD}");
inline constexpr TGuid TShowMessagePacket = GuidFromText("{3C1BB8D4-5CA8-4971-BAC1-2965E88E4446}");
inline constexpr TGuid TResetPacket = GuidFromText("{4D3DE73D-6749-4051-B00A-764391F17B61}");
inline constexpr TGuid TCoordinatorRoleNotifyPacket = GuidFromText("{D1BDD204-B44F-4FC9-AF09-3186D51D48FC}");
inline constexpr TGuid TUpdateVersionPacket = GuidFromText("{2B3DD718-B603-4BF0-80E6-47E4258EF2D4}");
inline constexpr TGuid TStoreVersionUpdatePacket = GuidFromText("{5E48DC74-4EB3-451A-AB58-7CC05FE26FCA}");
inline constexpr TGuid TInstallVersionUpdatePacket = GuidFromText("{EB02F5E5-7F2C-4E84-806C-466DCA2B158A}");
inline constexpr TGuid TCoordSettingsRequestPacket = GuidFromText("{F5027766-7394-4CAB-9656-230BFCD3C652}");
inline constexpr TGuid TCoordSettingsPacket = GuidFromText("{954F59FA-52D1-49F8-A520-C956DCBCE57F}");
inline constexpr TGuid TAgentShuttingDownPacket = GuidFromText("{1E563F37-109D-4BFF-860D-F075EE3B8A8C}");
inline constexpr TGuid TQueryStateReplyPacket = GuidFromText("{50ED5FD9-1842-4349-95E5-1AC119AA31A4}");
inline constexpr TGuid TSetAgentRegistryPacket = GuidFromText("{F123F9B3-E45A-45AD-9E17-79CA16CD6739}");
inline constexpr TGuid TUnsubscribeWildcardAgentsPacket = GuidFromText("{3905B0C3-3EF7-4F01-834A-8502CF500F44}");

}  // namespace cm::catalogue_guids
