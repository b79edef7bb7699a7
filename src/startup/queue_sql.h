// The choice of the queue query that every poll runs, fixed at start-up from the print-server flag,
// the contingency mode and the terminal number.
#pragma once

#include "context/app_context.h"

namespace quorvanti::startup {

// Sets RunSettings.QueueSql. Outside a contingency-sender installation it first clears
// "EnviandoNFCEVenda" (a marker an interrupted run may have left); a contingency sender opens its query
// once to count the stored documents.
void chooseQueueSql(context::AppContext& ctx);

}  // namespace quorvanti::startup
