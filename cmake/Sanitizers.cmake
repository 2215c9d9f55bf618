# -DTESSEL_SANITIZE=ON instruments every target of the tree with ASan and UBSan; the first
# undefined behaviour ends the process. tools/run-sanitized-tests.sh builds and runs it.
if(TESSEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
