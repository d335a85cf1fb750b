// The workflow definition as the diagram editor loads and saves it: nine readers that hand out
// the workflow table by table (detached, batch-optimistic recordsets), and the save that replaces
// a workflow's whole definition from the editor's posted form. Free functions on a Database,
// registered by name on Database.
//
// The questions asked of the workflow while issues move (allowed resolutions, assignees) live
// beside the issue writers, in issues/workflow.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
class MultipartFormData;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// ---- the readers (an id that matches nothing gives an open, empty recordset)
RecordsetPtr GetSiteWorkflowRs(Database& db);
RecordsetPtr GetWorkflowResolutionsRs(Database& db, int32_t workflowId);
RecordsetPtr GetWorkflowStatesRs(Database& db, int32_t workflowId);
RecordsetPtr GetWorkflowStateGroupsRs(Database& db, int32_t stateId);
RecordsetPtr GetWorkflowStateTeamLeadsRs(Database& db, int32_t stateId);
RecordsetPtr GetWorkflowActionsRs(Database& db, int32_t workflowId);
RecordsetPtr GetWorkflowActionPtsRs(Database& db, int32_t actionId);
RecordsetPtr GetWorkflowStateValidationsRs(Database& db, int32_t stateId);
RecordsetPtr GetWorkflowActionAssignmentsRs(Database& db, int32_t actionId);

// ---- the save
// Replaces the definition of rsWorkflow's workflow (its first row, a Workflows row as
// GetSiteWorkflowRs handed it out) with the posted states and actions, carries the workflow
// transition rules over to the new actions by their codes and refreshes every issue's Valid and
// Fixed flags. Site administrators only. False with LastErrorMessage when refused (another
// user's save in between, a statement the database refuses); a posted value that does not
// convert raises. Either way nothing of the save remains.
bool UpdateWorkflow(Database& db, const std::string& submittedByUserId, RecordsetPtr rsWorkflow,
                    std::shared_ptr<MultipartFormData> formData);

// The new StateId of the state posted as `oldId`: the entry of `newIds` at the first index where
// `oldIds` holds `oldId`; -1 when no posted state has it. Not callable by name.
int32_t LocateNewId(int32_t oldId, const std::vector<int32_t>& oldIds, const std::vector<int32_t>& newIds);

}  // namespace brisquel
