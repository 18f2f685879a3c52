// Words of the line trace that a host reads back to tell what happened on the line. Constants
// only, no code, like the vocabulary: the driver writes them and em1 looks for them.
#pragma once

// The event after the received bytes of a reply that named another request than the one
// sent (a late reply to an earlier request): the driver threw that reply away and went on
// reading for the reply to its own request. Received bytes after the event are that reply.
inline constexpr char kForeignReplyEvent[] = "foreign reply discarded";
