// The half of the screen where t > 0.5 is kept and reflected onto the other half, about the
// vertical centre line whichever camera's table is in use. Both reads use coordinates straight
// from the vertex stage, so the reflection is as sharp as the original on mediump hardware.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;
varying vec2 v_reflected;

void main() {
    vec4 kept = texture2D(s_texture, v_texCoord);
    vec4 reflected = texture2D(s_texture, v_reflected);
    gl_FragColor = mix(kept, reflected, step(v_texCoord.y, 0.5));
}
