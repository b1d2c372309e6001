# Deepest stack use since reset, read from a running image (QEMU or the
# board): the reset code fills the stack with the word __stack_paint, and
# the lowest word that no longer holds it is the high-water mark.
#   (gdb) source scripts/stack-high-water.gdb
set $varve_word = (unsigned int *) &__stack_bottom
while $varve_word < (unsigned int *) &__stack_top && *$varve_word == (unsigned int) &__stack_paint
  set $varve_word = $varve_word + 1
end
printf "stack high-water mark: %u of %u bytes\n", (unsigned int) &__stack_top - (unsigned int) $varve_word, (unsigned int) &__stack_top - (unsigned int) &__stack_bottom
