ln -s /dev/full HALVORN.UNF
