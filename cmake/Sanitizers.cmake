# -DTESSEL_SANITIZE=ON instruments every target of the tree with ASan and UBSan.
if(TESSEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
