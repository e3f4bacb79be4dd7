printf 'an older and longer dump' >LASTREC.DMP
