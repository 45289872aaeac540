// Resource identifiers shared by tockmere.rc and the code that loads the resources.
#pragma once

#define IDI_TOCKMERE 1
