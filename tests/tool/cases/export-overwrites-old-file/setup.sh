printf 'an older and longer export' >HALVORN.UNF
