// placeholder until the simulator lands
