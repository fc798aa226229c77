// The project list and the lookups by name and number: thin functions over
// the project table of the process default installation
// (extlib/project_table.h), which reads project.dat once per change of the
// file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {

class OperationContext;

class Installation;

// A copy of slot's live records in administration order, allocated for the
// caller (release with ltbpliC_delete). flags and record are not used. 0,
// -2 no administration, -1 unreadable (a damaged line is reported once).
[[nodiscard]] int ltbpliC_new(OperationContext& ctx, int slot, int* count, PRJ** list, int flags, PRJ* record);
void ltbpliC_delete(PRJ** list);
// Drops the installation's cached list; its next lookup reads the file again.
void UnCachPrjList(OperationContext& ctx);
// Within this time (default 200 ms) after a check, the list is used without
// comparing the file's size and times again. 0: compare on every lookup.
void SetProjectListRevalidateMs(int ms);

// Lookups in slot 23's administration; names are padded to 50 characters.
// 0, -2 no administration, -3 no such project, -1 unreadable.
[[nodiscard]] int get_project_info(OperationContext& ctx, const std::string& name, PRJ* record);
// The number, or the negative code.
[[nodiscard]] long get_project_number(OperationContext& ctx, const std::string& name);
[[nodiscard]] int get_project_host(OperationContext& ctx, int slot, const std::string& name, std::string* host);
[[nodiscard]] int get_project_key(OperationContext& ctx, const std::string& name, uint32_t* key);
[[nodiscard]] int get_PrjInfo_by_number(OperationContext& ctx, uint32_t number, PRJ* record);
[[nodiscard]] int get_project_status(OperationContext& ctx, const std::string& name, unsigned char* status);
// Stores the status character under the record's lock. 0 or negative.
[[nodiscard]] int put_project_status(OperationContext& ctx, const std::string& name, const unsigned char* status);
// The record slot of a project (checked against the file), or -1.
[[nodiscard]] long get_prj_position(OperationContext& ctx, int handle, const std::string& name, int slot = 23,
                                    int mode = 2);
// The same with the reason when there is none: 0 (*slot set), -2 no
// administration, -3 no such project, -1 unreadable.
[[nodiscard]] int FindProjectSlot(OperationContext& ctx, int handle, const std::string& name, long* slot);
[[nodiscard]] long FindRecordSlotByNumber(OperationContext& ctx, uint32_t number);

// What creating a record needs to know, from the current list.
struct ListFacts {
  uint32_t highest = 0;     // the null record's highest number
  uint32_t largest = 0;     // the largest number in use
  long first_free_slot = 1;  // first deleted slot, else one past the last
};
[[nodiscard]] int GetListFacts(OperationContext& ctx, ListFacts* facts);
bool NumberInUse(OperationContext& ctx, uint32_t number);
bool NameInUse(OperationContext& ctx, const std::string& name);

}  // namespace dovrane::extlib
