// The hooks' do-nothing defaults, and the hook names bound to them.
#include "hooks.hpp"

extern "C" {

void __IInitTermDefault(unsigned long) {}

void _setProcessDetachInProgressDefault() {}

// Weak aliases: the default answers to the hook name unless something
// stronger is linked in.
void __IInitTerm(unsigned long ulflag) __attribute__((weak, alias("__IInitTermDefault")));
void _setProcessDetachInProgress() __attribute__((weak, alias("_setProcessDetachInProgressDefault")));
}
