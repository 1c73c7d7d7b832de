// placeholder translation unit until the renderer lands
