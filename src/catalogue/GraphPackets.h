// GraphPackets: the graphs of the build monitor.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// Members the product's services define: a sample's Values is a TIntegerList (one int32 per graph
// of the set).
#define CM_GRAPH_PACKETS(CLASS, LIST, F) \
    CLASS(TGraphDefPacket, TPacket, F(S, DisplayName) F(S, Description) F(S, Units) F(I4, DivideBy)     \
          F(I4, DefaultScale) F(E1, Color) F(E1, Flags))                                                \
    LIST(TGraphDefPacket)                                                                               \
    CLASS(TGraphSetDefPacket, TPacket, F(I4, SetID) F(S, DisplayName) F(P<TGraphDefPacketList>, Graphs) \
          F(E1, Flags))                                                                                 \
    CLASS(TGraphSamplePacket, TPacket, F(I4, SetID) F(M<TIntegerList>, Values))                         \

namespace cm {

CM_CATALOGUE_DECLARE(CM_GRAPH_PACKETS)

extern const TCatalogueUnit GraphPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeGraphPackets();

}  // namespace cm
