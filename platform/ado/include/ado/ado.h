// The data layer: ADO's Connection, Command, Recordset and Stream over SQLite.
#pragma once

#include "ado/command.h"
#include "ado/connection.h"
#include "ado/connection_string.h"
#include "ado/errors.h"
#include "ado/recordset.h"
#include "ado/row_version.h"
#include "ado/stream.h"
#include "ado/types.h"
