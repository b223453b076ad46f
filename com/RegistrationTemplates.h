#pragma once

// The registration files as templates; "@PROGRAM@" stands for the service program's
// path and, in the activation file, "@SYSTEMD_SERVICE_LINE@" for the line that hands
// activation to systemd.
extern const char* const kActivationFileTemplate;
extern const char* const kPolicyFileTemplate;
extern const char* const kUnitFileTemplate;
// The sysusers.d entry of the service's account, used as it is.
extern const char* const kSysusersFileTemplate;
